#include "app/product_tables.h"

#include "payload/payload_ids.h"

// Row order is the order of deployment; roll-back walks it backwards.
constexpr FileTableData FILE_TABLE_32BIT = {
    3,
    {"DrvClass.ini", "XVT-7Q2RN3.txt", "SupVer.inf"},
    {"DrvClass.ini.bk0", "XVT-7Q2RN3.txt.bk0", "SupVer.inf.bk0"},
    {1, 1, 1},
    {{PAYLOAD_ID_CLASS0_DRVCLASS, PAYLOAD_ID_CLASS0_MARKER, PAYLOAD_ID_CLASS0_SUPVER},
     {PAYLOAD_ID_CLASS1_DRVCLASS, PAYLOAD_ID_CLASS1_MARKER, PAYLOAD_ID_CLASS1_SUPVER}},
};

constexpr FileTableData FILE_TABLE_WOW64 = {
    4,
    {"DrvClass.ini", "DrvClass64.ini", "XVT-7Q2RN3.txt", "SupVer.inf"},
    {"DrvClass.ini.bk0", "DrvClass64.ini.bk0", "XVT-7Q2RN3.txt.bk0", "SupVer.inf.bk0"},
    {1, 1, 1, 1},
    {{PAYLOAD_ID_CLASS0_DRVCLASS, PAYLOAD_ID_CLASS0_DRVCLASS64, PAYLOAD_ID_CLASS0_MARKER, PAYLOAD_ID_CLASS0_SUPVER},
     {PAYLOAD_ID_CLASS1_DRVCLASS, PAYLOAD_ID_CLASS1_DRVCLASS64, PAYLOAD_ID_CLASS1_MARKER, PAYLOAD_ID_CLASS1_SUPVER}},
};

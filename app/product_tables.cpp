#include "app/product_tables.h"

// Row order is the order of deployment; roll-back walks it backwards.
constexpr FileTableData FILE_TABLE_32BIT = {
    3,
    {"DrvClass.ini", "XVT-7Q2RN3.txt", "SupVer.inf"},
    {"DrvClass.ini.bk0", "XVT-7Q2RN3.txt.bk0", "SupVer.inf.bk0"},
    {1, 1, 1},
    {{201, 200, 203}, {211, 210, 213}},
};

constexpr FileTableData FILE_TABLE_WOW64 = {
    4,
    {"DrvClass.ini", "DrvClass64.ini", "XVT-7Q2RN3.txt", "SupVer.inf"},
    {"DrvClass.ini.bk0", "DrvClass64.ini.bk0", "XVT-7Q2RN3.txt.bk0", "SupVer.inf.bk0"},
    {1, 1, 1, 1},
    {{201, 202, 200, 203}, {211, 212, 210, 213}},
};

#include "registry/registry_op_table.h"

// The filter driver reads one list per vendor key below its "Filter" key.
#define FILTER_KEY "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter"
#define PRODUCTS_VALUE "Products"
// The drive model (9 characters), two spaces, the publisher model (5 characters).
#define NEW_PRODUCT_ID "XVT-7Q2RN  KR550"
static_assert(sizeof(NEW_PRODUCT_ID) == PRODUCT_ID_LEN + 1, "a product id fills one list slot exactly");

namespace {

constexpr RegistryOp FILTER_PRODUCT_ROWS[REG_OP_ROWS] = {
    {FILTER_KEY "\\ROVE", PRODUCTS_VALUE, NEW_PRODUCT_ID, 0, REG_OP_APPEND_PRODUCT},
    {FILTER_KEY "\\ODRIX", PRODUCTS_VALUE, NEW_PRODUCT_ID, 0, REG_OP_APPEND_PRODUCT},
};

}  // namespace

// Both version classes register the drive the same way: one block of rows
// serves both.
constexpr const RegistryOp* REGISTRY_OP_TABLE[VERSION_CLASS_COUNT] = {FILTER_PRODUCT_ROWS, FILTER_PRODUCT_ROWS};

#undef NEW_PRODUCT_ID
#undef PRODUCTS_VALUE
#undef FILTER_KEY

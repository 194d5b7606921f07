// What the update writes to the registry: per version class, the rows that
// name a key below HKEY_LOCAL_MACHINE, a value, its data and the operation.
#pragma once

#include "app/product_tables.h"
#include "platform/win32.h"

constexpr int REG_OP_SET_DWORD = 1;       // write dwordData into a key that must exist
constexpr int REG_OP_SET_STRING = 2;      // create the key if needed and write stringData
constexpr int REG_OP_APPEND_PRODUCT = 10; // add the product id stringData to the list in the value

constexpr int REG_OP_ROWS = 2;
constexpr int REG_OP_KEY_PATH_SIZE = 128;
constexpr int REG_OP_VALUE_NAME_SIZE = 20;
constexpr int REG_OP_STRING_DATA_SIZE = 20;

// Product lists hold ids of exactly this many characters, one after the other.
constexpr int PRODUCT_ID_LEN = 16;

struct RegistryOp {
  char keyPath[REG_OP_KEY_PATH_SIZE];
  char valueName[REG_OP_VALUE_NAME_SIZE];
  char stringData[REG_OP_STRING_DATA_SIZE];
  DWORD dwordData;
  int kind;
};

// The REG_OP_ROWS rows of each version class.
extern const RegistryOp* const REGISTRY_OP_TABLE[VERSION_CLASS_COUNT];

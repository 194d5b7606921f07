// Result code shared by every accessor: a fixed-size buffer could not be allocated.
#pragma once

const int ERR_OUT_OF_MEMORY = 257;

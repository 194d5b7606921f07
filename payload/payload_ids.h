// The payload resources: the id of each and its file, relative to the payload
// folder. Plain #defines, because the resource compiler reads this file too
// (through the C preprocessor), and scripts/check_executable.py reads the lines
// "#define PAYLOAD_ID_<name> <id>" and "#define PAYLOAD_FILE_<name> "<path>"".
// Ids are 200 + 10 x version class + file kind (marker, DrvClass.ini,
// DrvClass64.ini, SupVer.inf).
#ifndef PAYLOAD_PAYLOAD_IDS_H
#define PAYLOAD_PAYLOAD_IDS_H

// Version class 0: installed versions 7.xx to 8.xx.
#define PAYLOAD_ID_CLASS0_MARKER 200
#define PAYLOAD_ID_CLASS0_DRVCLASS 201
#define PAYLOAD_ID_CLASS0_DRVCLASS64 202
#define PAYLOAD_ID_CLASS0_SUPVER 203
#define PAYLOAD_FILE_CLASS0_MARKER "class0/XVT-7Q2RN3.txt"
#define PAYLOAD_FILE_CLASS0_DRVCLASS "class0/DrvClass.ini"
#define PAYLOAD_FILE_CLASS0_DRVCLASS64 "class0/DrvClass64.ini"
#define PAYLOAD_FILE_CLASS0_SUPVER "class0/SupVer.inf"

// Version class 1: installed versions 9.xx to 10.00.
#define PAYLOAD_ID_CLASS1_MARKER 210
#define PAYLOAD_ID_CLASS1_DRVCLASS 211
#define PAYLOAD_ID_CLASS1_DRVCLASS64 212
#define PAYLOAD_ID_CLASS1_SUPVER 213
#define PAYLOAD_FILE_CLASS1_MARKER "class1/XVT-7Q2RN3.txt"
#define PAYLOAD_FILE_CLASS1_DRVCLASS "class1/DrvClass.ini"
#define PAYLOAD_FILE_CLASS1_DRVCLASS64 "class1/DrvClass64.ini"
#define PAYLOAD_FILE_CLASS1_SUPVER "class1/SupVer.inf"

#endif  // PAYLOAD_PAYLOAD_IDS_H

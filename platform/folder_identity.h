// What Windows says a folder is, whatever the spelling that reaches it.
#pragma once

// Whether both paths reach one folder by its volume and file index. Only
// where the file system keeps that index unique and stable (NTFS) does it
// tell; a folder that is not there, or one on FAT, whose index Windows may
// change, answers false, and the caller goes by the text.
bool SameFolderOnDisk(const char* left, const char* right);

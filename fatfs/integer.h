/* Integer types of the FAT module and the disk layer. Usable from C and C++. */
#ifndef TESSIVO_FATFS_INTEGER_H
#define TESSIVO_FATFS_INTEGER_H

#include <stdint.h>

typedef uint8_t  BYTE;   /* 8-bit unsigned */
typedef uint16_t WORD;   /* 16-bit unsigned */
typedef uint32_t DWORD;  /* 32-bit unsigned */
typedef uint32_t ULONG;  /* 32-bit unsigned, used by formatted output */
typedef unsigned int UINT; /* native unsigned int, 32 bits on both backends */
typedef char     TCHAR;  /* path and text characters; signed on the chip */

#endif

/* FAT12/16/32 file system module: public interface. Usable from C and C++.
 *
 * One drive (number 0), 512-byte sectors, 8.3 names. All objects belong to the
 * caller; the module allocates nothing and keeps only a pointer to the
 * registered volume object. */
#ifndef TESSIVO_FATFS_FF_H
#define TESSIVO_FATFS_FF_H

#include "integer.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every call of the module (values are fixed). */
typedef enum {
    FR_OK = 0,              /* success */
    FR_DISK_ERR,            /* a disk layer call failed */
    FR_INT_ERR,             /* inconsistency: bad cluster number, broken chain, object in error state */
    FR_NOT_READY,           /* the drive could not be initialised */
    FR_NO_FILE,             /* no such file (inside the module also: end of a directory) */
    FR_NO_PATH,             /* a directory on the path is missing or not a directory */
    FR_INVALID_NAME,        /* not a valid 8.3 path, or no object the call can use */
    FR_DENIED,              /* access refused, or no room for a directory */
    FR_EXIST,               /* an object of that name exists */
    FR_INVALID_OBJECT,      /* file/directory object not valid (stale or closed) */
    FR_WRITE_PROTECTED,     /* the medium is write-protected */
    FR_INVALID_DRIVE,       /* drive number other than 0 */
    FR_NOT_ENABLED,         /* no volume object registered */
    FR_NO_FILESYSTEM,       /* no valid FAT volume */
    FR_MKFS_ABORTED,        /* formatting could not proceed */
    FR_TIMEOUT,             /* never returned */
    FR_LOCKED,              /* never returned */
    FR_NOT_ENOUGH_CORE,     /* a caller-supplied buffer is too small */
    FR_TOO_MANY_OPEN_FILES, /* never returned */
    FR_INVALID_PARAMETER    /* a parameter out of range */
} FRESULT;

/* A volume. */
typedef struct {
    BYTE  fs_type;    /* 0 = not mounted, 1 = FAT12, 2 = FAT16, 3 = FAT32 */
    BYTE  drv;        /* physical drive number */
    BYTE  csize;      /* sectors per cluster (1..128, power of two) */
    BYTE  n_fats;     /* number of FAT copies (1 or 2) */
    BYTE  wflag;      /* 1 = win holds changes not yet written */
    BYTE  fsi_flag;   /* 1 = free_clust/last_clust changed since the FSInfo write */
    WORD  id;         /* mount identifier */
    WORD  n_rootdir;  /* root directory entries (FAT12/16), 0 on FAT32 */
    DWORD last_clust; /* cluster allocated last; 0 = unknown */
    DWORD free_clust; /* free clusters; 0xFFFFFFFF = unknown */
    DWORD fsi_sector; /* FSInfo sector (FAT32) */
    DWORD cdir;       /* first cluster of the current directory; 0 = root */
    DWORD n_fatent;   /* data clusters + 2 */
    DWORD fsize;      /* sectors per FAT copy */
    DWORD fatbase;    /* first sector of the first FAT */
    DWORD dirbase;    /* FAT12/16: first root directory sector; FAT32: root cluster */
    DWORD database;   /* first sector of cluster 2 */
    DWORD winsect;    /* sector held by win; 0 = none */
    BYTE  win[512];   /* sector window for FAT and directory sectors */
} FATFS;

/* An open file. */
typedef struct {
    FATFS* fs;        /* volume; null when not open */
    WORD   id;        /* volume id at open time */
    BYTE   flag;      /* mode and state bits (FM_*) */
    BYTE   pad1;      /* not used */
    DWORD  fptr;      /* read/write position */
    DWORD  fsize;     /* file size */
    DWORD  sclust;    /* first cluster; 0 = no chain */
    DWORD  clust;     /* cluster holding the byte at fptr - 1 */
    DWORD  dsect;     /* sector held by buf; 0 = none */
    DWORD  dir_sect;  /* sector holding the directory entry */
    BYTE*  dir_ptr;   /* the directory entry inside fs->win */
    DWORD* cltbl;     /* cluster link map for fast seek; null = off */
    BYTE   buf[512];  /* the file's own sector buffer */
} FIL;

/* A directory cursor. */
typedef struct {
    FATFS* fs;        /* volume */
    WORD   id;        /* volume id when opened */
    WORD   index;     /* current entry index */
    DWORD  sclust;    /* first cluster of the table; 0 = root */
    DWORD  clust;     /* cluster of the current entry; 0 = fixed root area */
    DWORD  sect;      /* sector of the current entry; 0 = end reached */
    BYTE*  dir;       /* current entry inside fs->win */
    BYTE*  fn;        /* 12-byte short name buffer (11 name bytes + status) */
} DIR;

/* Directory information of one entry. */
typedef struct {
    DWORD fsize;      /* file size */
    WORD  fdate;      /* modification date */
    WORD  ftime;      /* modification time */
    BYTE  fattrib;    /* attribute byte */
    TCHAR fname[13];  /* 8.3 name, NUL-terminated; empty at the end of a directory */
} FILINFO;

/* Open mode and state bits of FIL.flag */
#define FM_OPEN_EXISTING 0x00
#define FM_READ          0x01
#define FM_WRITE         0x02
#define FM_CREATE_NEW    0x04
#define FM_CREATE_ALWAYS 0x08
#define FM_OPEN_ALWAYS   0x10
#define FM_WRITTEN       0x20
#define FM_DIRTY         0x40
#define FM_ERROR         0x80

/* Attribute bits of a directory entry */
#define ATTR_READ_ONLY 0x01
#define ATTR_HIDDEN    0x02
#define ATTR_SYSTEM    0x04
#define ATTR_VOLUME_ID 0x08
#define ATTR_DIRECTORY 0x10
#define ATTR_ARCHIVE   0x20
#define ATTR_LONG_NAME 0x0F /* long-name entry: skipped like a volume label */

/* f_lseek offset that builds the fast-seek cluster link map */
#define SEEK_BUILD_MAP 0xFFFFFFFFUL

/* Volume registry */
FRESULT f_mount(BYTE vol, FATFS* fs);

/* Files */
FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode);
FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br);
FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw);
FRESULT f_lseek(FIL* fp, DWORD ofs);
FRESULT f_close(FIL* fp);
FRESULT f_sync(FIL* fp);
FRESULT f_truncate(FIL* fp);

/* Directories and status */
FRESULT f_opendir(DIR* dj, const TCHAR* path);
FRESULT f_readdir(DIR* dj, FILINFO* fno);
FRESULT f_stat(const TCHAR* path, FILINFO* fno);

/* Volume information and current directory */
FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs);
FRESULT f_chdrive(BYTE drv);
FRESULT f_chdir(const TCHAR* path);
FRESULT f_getcwd(TCHAR* path, UINT sz_path);

/* Namespace changes */
FRESULT f_unlink(const TCHAR* path);
FRESULT f_mkdir(const TCHAR* path);
FRESULT f_chmod(const TCHAR* path, BYTE value, BYTE mask);
FRESULT f_utime(const TCHAR* path, const FILINFO* fno);
FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new);

/* Formatting */
FRESULT f_mkfs(BYTE drv, BYTE sfd, UINT au);

/* Text I/O */
TCHAR* f_gets(TCHAR* buff, int len, FIL* fil);
int f_putc(TCHAR c, FIL* fil);
int f_puts(const TCHAR* str, FIL* fil);
int f_printf(FIL* fil, const TCHAR* str, ...);

#ifdef __cplusplus
}
#endif

#endif

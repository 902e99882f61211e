// FAT module internals shared by the module's source files and its tests.
// C++ only; the public interface is ff.h. Everything here lives in namespace
// ff, so a program that links the module sees none of it under a plain name.
#ifndef TESSIVO_FATFS_FF_PRIVATE_H
#define TESSIVO_FATFS_FF_PRIVATE_H

#include "fatfs/ff.h"
#include "fatfs/diskio.h"

namespace ff {

// ---------------------------------------------------------------------------
// Fixed sizes and on-disk layout (byte offsets, all fields little-endian)

inline constexpr UINT SECTOR_SIZE = 512;    // bytes per sector, everywhere
inline constexpr UINT SZ_DIR = 32;          // bytes per directory entry
inline constexpr UINT DIR_PER_SECTOR = SECTOR_SIZE / SZ_DIR;

// Directory entry
inline constexpr UINT DIR_Name = 0;          // 11 bytes: 8 body + 3 extension
inline constexpr UINT DIR_Attr = 11;
inline constexpr UINT DIR_NTRes = 12;
inline constexpr UINT DIR_CrtTimeTenth = 13;
inline constexpr UINT DIR_CrtTime = 14;      // creation time stamp (time at 14, date at 16)
inline constexpr UINT DIR_CrtDate = 16;
inline constexpr UINT DIR_LstAccDate = 18;
inline constexpr UINT DIR_FstClusHI = 20;
inline constexpr UINT DIR_WrtTime = 22;      // modification time stamp (time at 22, date at 24)
inline constexpr UINT DIR_WrtDate = 24;
inline constexpr UINT DIR_FstClusLO = 26;
inline constexpr UINT DIR_FileSize = 28;

inline constexpr BYTE DDE = 0xE5;            // first name byte of a deleted entry
inline constexpr BYTE NDDE = 0x05;           // stored first byte for a name beginning with 0xE5

// Partition table sector
inline constexpr UINT MBR_Table = 446;       // first of four 16-byte entries
inline constexpr UINT SZ_PTE = 16;
inline constexpr UINT PTE_Boot = 0;          // boot indicator
inline constexpr UINT PTE_StHead = 1;        // first sector as head, sector, cylinder
inline constexpr UINT PTE_StSec = 2;
inline constexpr UINT PTE_StCyl = 3;
inline constexpr UINT PTE_System = 4;        // partition type byte (0 = unused)
inline constexpr UINT PTE_EdHead = 5;        // last sector as head, sector, cylinder
inline constexpr UINT PTE_EdSec = 6;
inline constexpr UINT PTE_EdCyl = 7;
inline constexpr UINT PTE_StLba = 8;         // first sector
inline constexpr UINT PTE_SizLba = 12;       // number of sectors

// Boot sector / BIOS parameter block
inline constexpr UINT BS_jmpBoot = 0;
inline constexpr UINT BS_OEMName = 3;
inline constexpr UINT BPB_BytsPerSec = 11;
inline constexpr UINT BPB_SecPerClus = 13;
inline constexpr UINT BPB_RsvdSecCnt = 14;
inline constexpr UINT BPB_NumFATs = 16;
inline constexpr UINT BPB_RootEntCnt = 17;
inline constexpr UINT BPB_TotSec16 = 19;
inline constexpr UINT BPB_Media = 21;
inline constexpr UINT BPB_FATSz16 = 22;
inline constexpr UINT BPB_SecPerTrk = 24;
inline constexpr UINT BPB_NumHeads = 26;
inline constexpr UINT BPB_HiddSec = 28;
inline constexpr UINT BPB_TotSec32 = 32;
// FAT12/16 extension
inline constexpr UINT BS_DrvNum = 36;
inline constexpr UINT BS_Reserved1 = 37;
inline constexpr UINT BS_BootSig = 38;
inline constexpr UINT BS_VolID = 39;
inline constexpr UINT BS_VolLab = 43;
inline constexpr UINT BS_FilSysType = 54;
// FAT32 extension
inline constexpr UINT BPB_FATSz32 = 36;
inline constexpr UINT BPB_ExtFlags = 40;
inline constexpr UINT BPB_FSVer = 42;
inline constexpr UINT BPB_RootClus = 44;
inline constexpr UINT BPB_FSInfo = 48;
inline constexpr UINT BPB_BkBootSec = 50;
inline constexpr UINT BS_DrvNum32 = 64;
inline constexpr UINT BS_Reserved1_32 = 65;
inline constexpr UINT BS_BootSig32 = 66;
inline constexpr UINT BS_VolID32 = 67;
inline constexpr UINT BS_VolLab32 = 71;
inline constexpr UINT BS_FilSysType32 = 82;
inline constexpr UINT BS_55AA = 510;         // signature bytes 0x55, 0xAA
inline constexpr WORD BOOT_SIGNATURE = 0xAA55; // the two signature bytes read as a word

// FSInfo sector (FAT32)
inline constexpr UINT FSI_LeadSig = 0;
inline constexpr UINT FSI_StrucSig = 484;
inline constexpr UINT FSI_Free_Count = 488;
inline constexpr UINT FSI_Nxt_Free = 492;
inline constexpr UINT FSI_TrailSig = 508;
inline constexpr DWORD FSI_LEAD_SIG_VALUE = 0x41615252;
inline constexpr DWORD FSI_STRUC_SIG_VALUE = 0x61417272;

// FAT entry values
inline constexpr DWORD CLUST_EOC = 0x0FFFFFFF;        // end-of-chain mark as written (narrowed per type)
inline constexpr DWORD CLUST_DISK_ERR = 0xFFFFFFFF;   // cluster function result: disk error
inline constexpr DWORD CLUST_INT_ERR = 1;             // cluster function result: internal error
inline constexpr DWORD FAT32_MAX_CLUSTERS = 0x0FFFFFF5; // above this the end marks read as links

// FAT sub-types (FATFS.fs_type)
inline constexpr BYTE FS_FAT12 = 1;
inline constexpr BYTE FS_FAT16 = 2;
inline constexpr BYTE FS_FAT32 = 3;

// Name status byte, byte 11 of the short name buffer
inline constexpr UINT NS = 11;               // index of the status byte
inline constexpr BYTE NSF_LAST = 0x04;
inline constexpr BYTE NSF_BODY_LOWER = 0x08;
inline constexpr BYTE NSF_EXT_LOWER = 0x10;
inline constexpr BYTE NSF_DOT = 0x20;

// ---------------------------------------------------------------------------
// Module globals

extern FATFS* Volumes[1];   // registered volume object of each drive
extern WORD Fsid;         // mount counter
extern BYTE CurrVol;      // current drive

// ---------------------------------------------------------------------------
// Little-endian field access, byte by byte (no alignment assumed)

inline WORD ld_word(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline DWORD ld_dword(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}
inline void st_word(BYTE* p, WORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
inline void st_dword(BYTE* p, DWORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
    p[2] = static_cast<BYTE>(v >> 16);
    p[3] = static_cast<BYTE>(v >> 24);
}

// First cluster of a directory entry (both halves, on every FAT type)
inline DWORD ld_clust(const BYTE* dir)
{
    return (static_cast<DWORD>(ld_word(dir + DIR_FstClusHI)) << 16) | ld_word(dir + DIR_FstClusLO);
}
inline void st_clust(BYTE* dir, DWORD cl)
{
    st_word(dir + DIR_FstClusLO, static_cast<WORD>(cl));
    st_word(dir + DIR_FstClusHI, static_cast<WORD>(cl >> 16));
}

// True when the cluster holding byte `ofs` of a file would be beyond the
// number of clusters the volume has: the file's chain must loop.
inline bool chain_too_long(const FATFS* fs, DWORD ofs)
{
    return ofs / SECTOR_SIZE / fs->csize >= fs->n_fatent - 2;
}

// ---------------------------------------------------------------------------
// Byte blocks

void mem_cpy(void* dst, const void* src, UINT cnt);
void mem_set(void* dst, int val, UINT cnt);
int mem_cmp(const void* dst, const void* src, UINT cnt);

// ---------------------------------------------------------------------------
// Sector window and object validation

FRESULT move_window(FATFS* fs, DWORD sector);
FRESULT sync(FATFS* fs);
// Fills `buf` with an FSInfo sector holding the two counts and writes it.
FRESULT write_fsinfo(BYTE drv, BYTE* buf, DWORD sector, DWORD free_count, DWORD next_free);
FRESULT validate(FATFS* fs, WORD id);

// ---------------------------------------------------------------------------
// An open file's state and its own sector buffer

// Marks the file broken (reads, writes, seeks and truncation refuse it from
// then on) and hands back the reason.
FRESULT fail_file(FIL* fp, FRESULT res);
// Writes the buffer back to its sector when it holds changes.
FRESULT flush_file_buffer(FIL* fp);
// Makes the buffer hold sector `sect`, writing it back first when it holds changes.
FRESULT load_file_buffer(FIL* fp, DWORD sect);

// ---------------------------------------------------------------------------
// Mounting

// 0 = FAT boot sector, 1 = boot record but not FAT, 2 = no signature, 3 = read failed
BYTE check_fs(FATFS* fs, DWORD sect);
FRESULT chk_mounted(const TCHAR** path, FATFS** rfs, BYTE chk_wp);

// ---------------------------------------------------------------------------
// FAT access and cluster chains.
// DWORD results: 0 = none, 1 = internal error, 0xFFFFFFFF = disk error.

DWORD clust2sect(FATFS* fs, DWORD clst);
DWORD get_fat(FATFS* fs, DWORD clst);
FRESULT put_fat(FATFS* fs, DWORD clst, DWORD val);
FRESULT remove_chain(FATFS* fs, DWORD clst);
DWORD create_chain(FATFS* fs, DWORD clst);
DWORD clmt_clust(FIL* fp, DWORD ofs);

// ---------------------------------------------------------------------------
// Directory cursor operations

FRESULT dir_sdi(DIR* dj, WORD idx);
FRESULT dir_next(DIR* dj, int stretch);
FRESULT dir_find(DIR* dj);
FRESULT dir_read(DIR* dj);
FRESULT dir_register(DIR* dj);
FRESULT dir_remove(DIR* dj);

// ---------------------------------------------------------------------------
// Short names and path resolution

int chk_chr(const char* str, int chr);
FRESULT create_name(DIR* dj, const TCHAR** path);
FRESULT follow_path(DIR* dj, const TCHAR* path);
// Mounts the volume `path` names (refusing a write-protected medium when
// chk_wp is set) and follows the path with `sfn` (12 bytes) as the cursor's
// name buffer. A path without segments leaves the name status byte clear
// and the cursor's entry null.
FRESULT resolve(DIR* dj, BYTE* sfn, const TCHAR* path, BYTE chk_wp);
void get_fileinfo(DIR* dj, FILINFO* fno);

} // namespace ff

#endif

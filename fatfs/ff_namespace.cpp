/* Namespace changes: f_unlink, f_mkdir, f_chmod, f_utime, f_rename. Each ends
 * with a full volume flush so that the change is on the card on success. */
#include "fatfs/ff.h"
#include "fatfs/ff_private.h"

namespace ff {
namespace {

/* Mounts for writing and resolves `path`; `dot_test` refuses "." and "..". */
FRESULT resolve_for_change(DIR* dj, BYTE* sfn, const TCHAR* path, bool dot_test)
{
    const FRESULT res = resolve(dj, sfn, path, 1);
    if (res == FR_OK && dot_test && (sfn[NS] & NSF_DOT)) return FR_INVALID_NAME;
    return res;
}

/* The cluster a ".." entry holds for `parent`: the root is always 0. */
DWORD dotdot_cluster(const FATFS* fs, DWORD parent)
{
    return (fs->fs_type == FS_FAT32 && parent == fs->dirbase) ? 0 : parent;
}

/* Field by field, so no library copy is needed. */
void copy_cursor(DIR* dst, const DIR* src)
{
    dst->fs = src->fs;
    dst->id = src->id;
    dst->index = src->index;
    dst->sclust = src->sclust;
    dst->clust = src->clust;
    dst->sect = src->sect;
    dst->dir = src->dir;
    dst->fn = src->fn;
}

bool is_root(const FATFS* fs, DWORD cl)
{
    return cl == 0 || (fs->fs_type == FS_FAT32 && cl == fs->dirbase);
}

/* True when entry 1 of the sector in the window looks like a ".." entry. */
bool has_dotdot(const FATFS* fs)
{
    return fs->win[SZ_DIR + 0] == '.' && fs->win[SZ_DIR + 1] == '.';
}

/* Refuses to move directory `dcl` below itself: climbs from `parent` through
 * the ".." entries to the root, at most as many steps as there are clusters. */
FRESULT check_not_inside(FATFS* fs, DWORD dcl, DWORD parent)
{
    DWORD cl = parent;
    for (DWORD steps = 0; !is_root(fs, cl); steps++) {
        if (cl == dcl) return FR_INVALID_NAME;
        if (steps >= fs->n_fatent) return FR_INT_ERR;
        const DWORD sect = clust2sect(fs, cl);
        if (sect == 0) return FR_INT_ERR;
        const FRESULT res = move_window(fs, sect);
        if (res != FR_OK) return res;
        if (!has_dotdot(fs)) return FR_INT_ERR;
        cl = ld_clust(fs->win + SZ_DIR);
    }
    return FR_OK;
}

/* Checksum of a short name, as long-name entries of other systems record it. */
BYTE short_name_sum(const BYTE* dir)
{
    BYTE sum = 0;
    for (UINT i = 0; i < 11; i++) sum = (BYTE)(((sum & 1) << 7) + (sum >> 1) + dir[DIR_Name + i]);
    return sum;
}

/* Other systems put long-name entries right before the short entry they
 * belong to. Removing the short entry alone would leave them orphaned (a
 * damaged directory to a checker), so they are deleted with it: walking back
 * from entry `index` while the entries carry the short name's checksum. */
constexpr UINT LFN_MAX_ENTRIES = 20; /* 255 characters, 13 per entry */
constexpr BYTE LFN_LAST = 0x40;      /* sequence flag of the first entry in the table */
constexpr UINT LDIR_Chksum = 13;

FRESULT remove_long_name(const DIR* entry, BYTE sum)
{
    DIR dj;
    copy_cursor(&dj, entry);
    FATFS* fs = dj.fs;
    const WORD index = entry->index;
    for (UINT k = 1; k <= LFN_MAX_ENTRIES && k <= index; k++) {
        FRESULT res = dir_sdi(&dj, (WORD)(index - k));
        if (res == FR_OK) res = move_window(fs, dj.sect);
        if (res != FR_OK) return res;
        BYTE* e = dj.dir;
        if (e[DIR_Attr] != ATTR_LONG_NAME || e[DIR_Name] == DDE || e[DIR_Name] == 0 || e[LDIR_Chksum] != sum)
            break;
        const BYTE ord = e[DIR_Name];
        e[DIR_Name] = DDE;
        fs->wflag = 1;
        if (ord & LFN_LAST) break;
    }
    return FR_OK;
}

} // namespace
} // namespace ff

using namespace ff;

FRESULT f_unlink(const TCHAR* path)
{
    DIR dj;
    BYTE sfn[12];
    FRESULT res = resolve_for_change(&dj, sfn, path, true);
    if (res != FR_OK) return res;
    if (!dj.dir) return FR_INVALID_NAME;
    if (dj.dir[DIR_Attr] & ATTR_READ_ONLY) return FR_DENIED;

    FATFS* fs = dj.fs;
    const DWORD dclst = ld_clust(dj.dir);
    if (dj.dir[DIR_Attr] & ATTR_DIRECTORY) {
        if (dclst < 2) return FR_INT_ERR;
        /* Empty when nothing but "." and ".." is in use. */
        DIR sdj;
        copy_cursor(&sdj, &dj);
        sdj.sclust = dclst;
        res = dir_sdi(&sdj, 2);
        if (res == FR_OK) {
            res = dir_read(&sdj);
            if (res == FR_OK) res = FR_DENIED;
            else if (res == FR_NO_FILE) res = FR_OK;
        }
        if (dclst == fs->cdir) res = FR_DENIED;
        if (res != FR_OK) return res;
    }

    const BYTE sum = short_name_sum(dj.dir);
    res = dir_remove(&dj);
    if (res == FR_OK) res = remove_long_name(&dj, sum);
    if (res == FR_OK && dclst != 0) res = remove_chain(fs, dclst);
    if (res == FR_OK) res = sync(fs);
    return res;
}

FRESULT f_mkdir(const TCHAR* path)
{
    const DWORD tim = get_fattime();
    DIR dj;
    BYTE sfn[12];
    FRESULT res = resolve_for_change(&dj, sfn, path, false);
    if (res == FR_OK) return FR_EXIST;
    if (res != FR_NO_FILE) return res;

    FATFS* fs = dj.fs;
    const DWORD dcl = create_chain(fs, 0);
    if (dcl == 0) return FR_DENIED;
    if (dcl == CLUST_INT_ERR) return FR_INT_ERR;
    if (dcl == CLUST_DISK_ERR) return FR_DISK_ERR;

    DWORD dsect = clust2sect(fs, dcl);
    res = dsect ? move_window(fs, 0) : FR_INT_ERR;
    if (res == FR_OK) {
        /* First sector: "." and "..", all with the same time stamp. */
        BYTE* dir = fs->win;
        mem_set(dir, 0, SECTOR_SIZE);
        mem_set(dir + DIR_Name, ' ', 11);
        dir[DIR_Name] = '.';
        dir[DIR_Attr] = ATTR_DIRECTORY;
        st_dword(dir + DIR_WrtTime, tim);
        st_clust(dir, dcl);
        mem_cpy(dir + SZ_DIR, dir, SZ_DIR);
        dir[SZ_DIR + 1] = '.';
        st_clust(dir + SZ_DIR, dotdot_cluster(fs, dj.sclust));
        for (UINT n = fs->csize; n; n--) {
            fs->winsect = dsect++;
            fs->wflag = 1;
            res = move_window(fs, 0);
            if (res != FR_OK) break;
            mem_set(dir, 0, SECTOR_SIZE);
        }
    }
    if (res == FR_OK) res = dir_register(&dj);
    if (res != FR_OK) {
        /* The allocation already reached the card with the first window
         * flush; the release must too, or the cluster is lost. */
        if (remove_chain(fs, dcl) == FR_OK) (void)sync(fs);
        return res;
    }
    BYTE* dir = dj.dir;
    dir[DIR_Attr] = ATTR_DIRECTORY;
    st_dword(dir + DIR_WrtTime, tim);
    st_clust(dir, dcl);
    fs->wflag = 1;
    return sync(fs);
}

FRESULT f_chmod(const TCHAR* path, BYTE value, BYTE mask)
{
    DIR dj;
    BYTE sfn[12];
    FRESULT res = resolve_for_change(&dj, sfn, path, true);
    if (res != FR_OK) return res;
    if (!dj.dir) return FR_INVALID_NAME;
    mask &= ATTR_READ_ONLY | ATTR_HIDDEN | ATTR_SYSTEM | ATTR_ARCHIVE;
    dj.dir[DIR_Attr] = (BYTE)((value & mask) | (dj.dir[DIR_Attr] & (BYTE)~mask));
    dj.fs->wflag = 1;
    return sync(dj.fs);
}

FRESULT f_utime(const TCHAR* path, const FILINFO* fno)
{
    DIR dj;
    BYTE sfn[12];
    FRESULT res = resolve_for_change(&dj, sfn, path, true);
    if (res != FR_OK) return res;
    if (!dj.dir) return FR_INVALID_NAME;
    st_word(dj.dir + DIR_WrtTime, fno->ftime);
    st_word(dj.dir + DIR_WrtDate, fno->fdate);
    dj.fs->wflag = 1;
    return sync(dj.fs);
}

FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new)
{
    DIR djo;
    BYTE sfn[12];
    FRESULT res = resolve_for_change(&djo, sfn, path_old, true);
    if (res != FR_OK) return res;
    if (!djo.dir) return FR_NO_FILE;

    FATFS* fs = djo.fs;
    BYTE saved[SZ_DIR - DIR_Attr]; /* bytes 11..31: everything but the name */
    mem_cpy(saved, djo.dir + DIR_Attr, sizeof saved);
    const BYTE attr = saved[0];
    const DWORD dcl = ld_clust(djo.dir);
    const BYTE sum = short_name_sum(djo.dir);

    DIR djn;
    copy_cursor(&djn, &djo);
    res = follow_path(&djn, path_new);
    if (res == FR_OK) return FR_EXIST;
    if (res != FR_NO_FILE) return res;

    /* A directory that changes parent: it must not land inside itself, and
     * its ".." sector must exist, before the new name is written. */
    const bool fix_dotdot = (attr & ATTR_DIRECTORY) && djo.sclust != djn.sclust;
    DWORD dsect = 0;
    if (fix_dotdot) {
        res = check_not_inside(fs, dcl, djn.sclust);
        if (res != FR_OK) return res;
        dsect = clust2sect(fs, dcl);
        if (dsect == 0) return FR_INT_ERR;
    }

    res = dir_register(&djn);
    if (res != FR_OK) return res;
    BYTE* dir = djn.dir;
    mem_cpy(dir + DIR_CrtTimeTenth, saved + (DIR_CrtTimeTenth - DIR_Attr), SZ_DIR - DIR_CrtTimeTenth);
    dir[DIR_Attr] = (BYTE)(attr | ATTR_ARCHIVE);
    dir[DIR_NTRes] = 0;
    fs->wflag = 1;

    if (fix_dotdot) {
        res = move_window(fs, dsect);
        if (res != FR_OK) return res;
        if (fs->win[SZ_DIR + 1] == '.') {
            st_clust(fs->win + SZ_DIR, dotdot_cluster(fs, djn.sclust));
            fs->wflag = 1;
        }
    }
    res = dir_remove(&djo);
    if (res == FR_OK) res = remove_long_name(&djo, sum);
    if (res != FR_OK) return res;
    return sync(fs);
}

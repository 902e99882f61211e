// Links every public call of the FAT module into an image for the chip, so
// the cross build proves the whole module is freestanding (no C library, no
// compiler helper calls) and shows what it costs in flash. Never flashed.
#include "fatfs/ff.h"
#include "fatfs/sdspi.h"

extern "C" void CoreTimerHandler() {}

using AnyCall = void (*)();

// Every call, by address.
static const AnyCall module_calls[] = {
    reinterpret_cast<AnyCall>(&f_mount),   reinterpret_cast<AnyCall>(&f_open),
    reinterpret_cast<AnyCall>(&f_read),    reinterpret_cast<AnyCall>(&f_write),
    reinterpret_cast<AnyCall>(&f_sync),    reinterpret_cast<AnyCall>(&f_close),
    reinterpret_cast<AnyCall>(&f_lseek),   reinterpret_cast<AnyCall>(&f_truncate),
    reinterpret_cast<AnyCall>(&f_opendir), reinterpret_cast<AnyCall>(&f_readdir),
    reinterpret_cast<AnyCall>(&f_stat),    reinterpret_cast<AnyCall>(&f_getfree),
    reinterpret_cast<AnyCall>(&f_chdrive), reinterpret_cast<AnyCall>(&f_chdir),
    reinterpret_cast<AnyCall>(&f_getcwd),  reinterpret_cast<AnyCall>(&f_unlink),
    reinterpret_cast<AnyCall>(&f_mkdir),   reinterpret_cast<AnyCall>(&f_chmod),
    reinterpret_cast<AnyCall>(&f_utime),   reinterpret_cast<AnyCall>(&f_rename),
    reinterpret_cast<AnyCall>(&f_mkfs),    reinterpret_cast<AnyCall>(&f_gets),
    reinterpret_cast<AnyCall>(&f_putc),    reinterpret_cast<AnyCall>(&f_puts),
    reinterpret_cast<AnyCall>(&f_printf),
};

int main() {
    // Read through a volatile so the table (and all it names) stays linked.
    const AnyCall* volatile table = module_calls;
    (void)table;
    disk_attach(0, &sdspi_disk, nullptr);
    for (;;) {
    }
}

// The time stamp the module asks for.
extern "C" DWORD get_fattime(void) { return 0; }

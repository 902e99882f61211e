// SD / MMC card driver in SPI mode on SPI1, chip select on RF0.
//
// Lower half: byte exchange, chip select with a ready wait, data blocks with
// their tokens and command framing. Upper half: the block device operations
// over 512-byte sectors. Time-outs are millisecond count-downs kept by
// disk_timerproc, which the 1 ms tick calls.
#include "fatfs/sdspi.h"

#include "platform/pic32/pic32.h"

namespace {

// Command codes: index in bits 5..0; bit 7 marks an application command
// (sent after CMD55).
constexpr BYTE CMD0 = 0;    // GO_IDLE_STATE
constexpr BYTE CMD1 = 1;    // SEND_OP_COND (MMC)
constexpr BYTE CMD8 = 8;    // SEND_IF_COND
constexpr BYTE CMD9 = 9;    // SEND_CSD
constexpr BYTE CMD10 = 10;  // SEND_CID
constexpr BYTE CMD12 = 12;  // STOP_TRANSMISSION
constexpr BYTE CMD16 = 16;  // SET_BLOCKLEN
constexpr BYTE CMD17 = 17;  // READ_SINGLE_BLOCK
constexpr BYTE CMD18 = 18;  // READ_MULTIPLE_BLOCK
constexpr BYTE CMD24 = 24;  // WRITE_BLOCK
constexpr BYTE CMD25 = 25;  // WRITE_MULTIPLE_BLOCK
constexpr BYTE CMD55 = 55;  // APP_CMD
constexpr BYTE CMD58 = 58;  // READ_OCR
constexpr BYTE ACMD13 = 0x80 | 13;  // SD_STATUS
constexpr BYTE ACMD23 = 0x80 | 23;  // SET_WR_BLK_ERASE_COUNT
constexpr BYTE ACMD41 = 0x80 | 41;  // SD_SEND_OP_COND

constexpr BYTE TOKEN_START = 0xFE;        // single-block write, every read block
constexpr BYTE TOKEN_START_MULTI = 0xFC;  // each block of a multiple-block write
constexpr BYTE TOKEN_STOP = 0xFD;         // end of a multiple-block write
constexpr BYTE DATA_ACCEPTED = 0x05;      // low five bits of the data response

constexpr uint32_t CS_PIN = 1u << 0;  // RF0
constexpr uint32_t BRG_IDENTIFY = 64;  // 80 MHz / 130, about 615 kHz
constexpr uint32_t BRG_FAST = 2;       // 80 MHz / 6, about 13.3 MHz

constexpr DWORD READY_TIMEOUT_MS = 500;
constexpr DWORD TOKEN_TIMEOUT_MS = 100;
constexpr DWORD IDENTIFY_TIMEOUT_MS = 1000;

constexpr UINT SECTOR_SIZE = 512;
// A byte-addressed card takes sector * 512 in a 32-bit argument.
constexpr DWORD BYTE_ADDRESS_SECTOR_LIMIT = 0x800000;

// Millisecond count-downs, decremented by disk_timerproc.
volatile DWORD Timer1;  // data token, card identification
volatile DWORD Timer2;  // ready wait
volatile DSTATUS Stat = STAT_NOINIT;
DWORD CardType;
DWORD CardSectors;  // capacity read at initialisation; bounds every transfer

// ---------------------------------------------------------------- SPI link

BYTE xchg_spi(BYTE dat) {
    SPI1BUF = dat;
    while (!(SPI1STAT & SPISTAT_SPIRBF)) {
    }
    return static_cast<BYTE>(SPI1BUF);
}

// One received byte straight from the port, for the block loop.
inline void rcvr_spi_to(BYTE* dst) {
    SPI1BUF = 0xFF;
    while (!(SPI1STAT & SPISTAT_SPIRBF)) {
    }
    *dst = static_cast<BYTE>(SPI1BUF);
}

BYTE wait_ready() {
    Timer2 = READY_TIMEOUT_MS;
    xchg_spi(0xFF);
    BYTE d;
    do {
        d = xchg_spi(0xFF);
    } while (d != 0xFF && Timer2 != 0);
    return d;
}

void deselect() {
    PORTFSET = CS_PIN;
    xchg_spi(0xFF);  // the card releases its data output on this clock
}

int select() {
    PORTFCLR = CS_PIN;
    if (wait_ready() == 0xFF) return 1;
    deselect();
    return 0;
}

void power_on() {
    // Drive chip select high before the pin becomes an output, so the
    // initial clocks reach a deselected card.
    PORTFSET = CS_PIN;
    TRISFCLR = CS_PIN;
    SpiChnOpen(SPI_CHANNEL1, SPI_OPEN_MSTEN | SPI_OPEN_CKP_HIGH | SPI_OPEN_SMP_END, 64);
    SPI1CONSET = SPICON_ON;
}

void power_off() {
    (void)select();  // lets the card finish any internal work
    deselect();
    SPI1CONCLR = SPICON_ON;
    Stat = static_cast<DSTATUS>(Stat | STAT_NOINIT);
}

int rcvr_datablock(BYTE* buff, UINT btr) {
    BYTE token;
    Timer1 = TOKEN_TIMEOUT_MS;
    do {
        token = xchg_spi(0xFF);
    } while (token == 0xFF && Timer1 != 0);
    if (token != TOKEN_START) return 0;

    do {
        rcvr_spi_to(buff++);
        rcvr_spi_to(buff++);
        rcvr_spi_to(buff++);
        rcvr_spi_to(buff++);
    } while (btr -= 4);
    xchg_spi(0xFF);  // CRC, not checked
    xchg_spi(0xFF);
    return 1;
}

int xmit_datablock(const BYTE* buff, BYTE token) {
    if (wait_ready() != 0xFF) return 0;
    xchg_spi(token);
    if (token == TOKEN_STOP) return 1;

    UINT bc = SECTOR_SIZE;
    do {
        xchg_spi(*buff++);
        xchg_spi(*buff++);
    } while (bc -= 2);
    xchg_spi(0xFF);  // dummy CRC
    xchg_spi(0xFF);
    const BYTE resp = xchg_spi(0xFF);
    return (resp & 0x1F) == DATA_ACCEPTED ? 1 : 0;
}

BYTE send_cmd(BYTE cmd, DWORD arg) {
    if (cmd & 0x80) {
        cmd = static_cast<BYTE>(cmd & 0x7F);
        const BYTE res = send_cmd(CMD55, 0);
        if (res > 1) return res;
    }

    deselect();
    if (!select()) return 0xFF;

    xchg_spi(static_cast<BYTE>(0x40 | cmd));
    xchg_spi(static_cast<BYTE>(arg >> 24));
    xchg_spi(static_cast<BYTE>(arg >> 16));
    xchg_spi(static_cast<BYTE>(arg >> 8));
    xchg_spi(static_cast<BYTE>(arg));
    // Only CMD0 and CMD8 are checked by a card in SPI mode; the rest get a
    // dummy CRC with the end bit.
    BYTE crc = 0x01;
    if (cmd == CMD0) crc = 0x95;
    if (cmd == CMD8) crc = 0x87;
    xchg_spi(crc);

    if (cmd == CMD12) xchg_spi(0xFF);  // stuff byte after the stop command

    BYTE res;
    BYTE n = 10;
    do {
        res = xchg_spi(0xFF);
    } while ((res & 0x80) && --n);
    return res;
}

// ---------------------------------------------------------------- card registers

// Sector count from a CSD; 0 when the register cannot describe a card.
DWORD csd_sector_count(const BYTE* csd) {
    if ((csd[0] >> 6) == 1) {
        // Version 2.0: 22-bit C_SIZE in units of 512 KB.
        const DWORD c_size = (static_cast<DWORD>(csd[7] & 0x3F) << 16) | (static_cast<DWORD>(csd[8]) << 8) | csd[9];
        if (c_size >= 0x3FFFFF) return 0;  // 2 TB and more does not fit a sector count
        return (c_size + 1) << 10;
    }
    // Version 1.0 and MMC: (C_SIZE + 1) * 2^(C_SIZE_MULT + 2) blocks of 2^READ_BL_LEN bytes.
    const UINT n = (csd[5] & 15) + (csd[10] >> 7) + ((csd[9] & 3) << 1) + 2;
    if (n < 9) return 0;  // smaller than one sector per unit
    const DWORD c_size = static_cast<DWORD>(csd[8] >> 6) + (static_cast<DWORD>(csd[7]) << 2) +
                         (static_cast<DWORD>(csd[6] & 3) << 10);
    return (c_size + 1) << (n - 9);
}

// Erase block size in sectors from an SD version 1 or MMC CSD; 0 when undefined.
DWORD csd_erase_block(const BYTE* csd, DWORD card_type) {
    if (card_type & CARD_SD1) {
        const DWORD sector_size = (static_cast<DWORD>(csd[10] & 63) << 1) + (csd[11] >> 7);
        const UINT write_bl_low = csd[13] >> 6;  // 1, 2, 3 for 512, 1024, 2048-byte write blocks
        if (write_bl_low == 0) return 0;
        return (sector_size + 1) << (write_bl_low - 1);
    }
    const DWORD grp_size = (csd[10] & 0x7C) >> 2;
    const DWORD grp_mult = (static_cast<DWORD>(csd[10] & 3) << 3) + (csd[11] >> 5);
    return (grp_size + 1) * (grp_mult + 1);
}

// Capacity from the card's CSD; 0 when it cannot be read or used.
DWORD read_sector_count() {
    BYTE csd[16];
    DWORD count = 0;
    if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(csd, 16)) count = csd_sector_count(csd);
    deselect();
    return count;
}

// ---------------------------------------------------------------- block device

DSTATUS card_initialize(void*) {
    if (Stat & STAT_NODISK) return Stat;

    power_on();
    SPI1BRG = BRG_IDENTIFY;
    for (BYTE n = 10; n; n--) xchg_spi(0xFF);  // 80 clocks to wake the card

    BYTE ty = 0;
    if (send_cmd(CMD0, 0) == 1) {
        Timer1 = IDENTIFY_TIMEOUT_MS;
        BYTE ocr[4];
        if (send_cmd(CMD8, 0x1AA) == 1) {
            // SD version 2: the card echoes the voltage range and the pattern.
            for (BYTE n = 0; n < 4; n++) ocr[n] = xchg_spi(0xFF);
            if (ocr[2] == 0x01 && ocr[3] == 0xAA) {
                while (Timer1 != 0 && send_cmd(ACMD41, 1UL << 30) != 0) {
                }
                if (Timer1 != 0 && send_cmd(CMD58, 0) == 0) {
                    for (BYTE n = 0; n < 4; n++) ocr[n] = xchg_spi(0xFF);
                    ty = (ocr[0] & 0x40) ? CARD_SD2 | CARD_BLOCK : CARD_SD2;
                }
            }
        } else {
            // SD version 1 answers ACMD41; MMC version 3 does not know CMD55.
            BYTE wake;
            if (send_cmd(ACMD41, 0) <= 1) {
                ty = CARD_SD1;
                wake = ACMD41;
            } else {
                ty = CARD_MMC;
                wake = CMD1;
            }
            while (Timer1 != 0 && send_cmd(wake, 0) != 0) {
            }
            if (Timer1 == 0 || send_cmd(CMD16, SECTOR_SIZE) != 0) ty = 0;
        }
    }
    CardType = ty;
    deselect();

    if (ty) {
        SPI1BRG = BRG_FAST;
        // Every transfer is checked against the capacity, so a card that
        // cannot tell it is not used. A byte-addressed card cannot reach
        // beyond its 32-bit byte addresses, whatever its CSD says.
        DWORD sectors = read_sector_count();
        if (!(ty & CARD_BLOCK) && sectors > BYTE_ADDRESS_SECTOR_LIMIT) sectors = BYTE_ADDRESS_SECTOR_LIMIT;
        CardSectors = sectors;
        if (sectors == 0) ty = 0;
    }
    if (ty) {
        Stat = static_cast<DSTATUS>(Stat & ~STAT_NOINIT);
    } else {
        power_off();
    }
    return Stat;
}

DSTATUS card_status(void*) { return Stat; }

DRESULT card_read(void*, BYTE* buff, DWORD sector, UINT count) {
    if (Stat & STAT_NOINIT) return RES_NOTRDY;
    if (!disk_range_ok(sector, count, CardSectors)) return RES_PARERR;
    if (!(CardType & CARD_BLOCK)) sector *= SECTOR_SIZE;

    if (count == 1) {
        if (send_cmd(CMD17, sector) == 0 && rcvr_datablock(buff, SECTOR_SIZE)) count = 0;
    } else {
        if (send_cmd(CMD18, sector) == 0) {
            do {
                if (!rcvr_datablock(buff, SECTOR_SIZE)) break;
                buff += SECTOR_SIZE;
            } while (--count);
            send_cmd(CMD12, 0);
        }
    }
    deselect();
    return count ? RES_ERROR : RES_OK;
}

DRESULT card_write(void*, const BYTE* buff, DWORD sector, UINT count) {
    if (Stat & STAT_NOINIT) return RES_NOTRDY;
    if (Stat & STAT_PROTECT) return RES_WRPRT;
    if (!disk_range_ok(sector, count, CardSectors)) return RES_PARERR;
    if (!(CardType & CARD_BLOCK)) sector *= SECTOR_SIZE;

    if (count == 1) {
        if (send_cmd(CMD24, sector) == 0 && xmit_datablock(buff, TOKEN_START)) count = 0;
    } else {
        if (CardType & CARD_SD) send_cmd(ACMD23, count);  // lets the card pre-erase
        if (send_cmd(CMD25, sector) == 0) {
            do {
                if (!xmit_datablock(buff, TOKEN_START_MULTI)) break;
                buff += SECTOR_SIZE;
            } while (--count);
            if (!xmit_datablock(nullptr, TOKEN_STOP)) count = 1;
        }
    }
    deselect();
    return count ? RES_ERROR : RES_OK;
}

DRESULT card_sync(void*) {
    if (Stat & STAT_NOINIT) return RES_NOTRDY;
    const DRESULT res = select() ? RES_OK : RES_ERROR;
    deselect();
    return res;
}

DRESULT card_sector_count(void*, DWORD* count) {
    if (Stat & STAT_NOINIT) return RES_NOTRDY;
    const DWORD n = read_sector_count();
    if (n == 0) return RES_ERROR;
    *count = n;
    return RES_OK;
}

DRESULT card_erase_block(void*, DWORD* sectors) {
    if (Stat & STAT_NOINIT) return RES_NOTRDY;
    DRESULT res = RES_ERROR;
    BYTE reg[16];
    if (CardType & CARD_SD2) {
        // AU_SIZE from the SD status: 16 sectors shifted by it.
        if (send_cmd(ACMD13, 0) == 0) {
            xchg_spi(0xFF);  // second byte of the R2 response
            if (rcvr_datablock(reg, 16)) {
                for (BYTE n = 64 - 16; n; n--) xchg_spi(0xFF);  // rest of the block and its CRC
                *sectors = DWORD{16} << (reg[10] >> 4);
                res = RES_OK;
            }
        }
    } else if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(reg, 16)) {
        const DWORD size = csd_erase_block(reg, CardType);
        if (size != 0) {
            *sectors = size;
            res = RES_OK;
        }
    }
    deselect();
    return res;
}

// The card's own registers and type.
DRESULT card_control(void*, BYTE ctrl, void* buff) {
    if (Stat & STAT_NOINIT) return RES_NOTRDY;
    DRESULT res = RES_ERROR;
    BYTE* const out = static_cast<BYTE*>(buff);
    switch (ctrl) {
        case IOCTL_CARD_TYPE:
            *out = static_cast<BYTE>(CardType);
            res = RES_OK;
            break;

        case IOCTL_READ_CSD:
            if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(out, 16)) res = RES_OK;
            break;

        case IOCTL_READ_CID:
            if (send_cmd(CMD10, 0) == 0 && rcvr_datablock(out, 16)) res = RES_OK;
            break;

        case IOCTL_READ_OCR:
            if (send_cmd(CMD58, 0) == 0) {
                for (BYTE n = 0; n < 4; n++) out[n] = xchg_spi(0xFF);
                res = RES_OK;
            }
            break;

        case IOCTL_READ_SDSTATUS:
            if (send_cmd(ACMD13, 0) == 0) {
                xchg_spi(0xFF);  // second byte of the R2 response
                if (rcvr_datablock(out, 64)) res = RES_OK;
            }
            break;

        default:
            res = RES_PARERR;
    }
    deselect();
    return res;
}

}  // namespace

extern "C" {

// One card in the socket: the operations keep no per-device state.
const DISKOPS sdspi_disk = {card_initialize, card_status, card_read,       card_write,
                            card_sync,       card_sector_count, card_erase_block, card_control};

void disk_timerproc(void) {
    DWORD n = Timer1;
    if (n) Timer1 = n - 1;
    n = Timer2;
    if (n) Timer2 = n - 1;

    // No card-detect or write-protect contact on this board: the socket always
    // reads as occupied and writable.
    Stat = static_cast<DSTATUS>(Stat & ~(STAT_NODISK | STAT_PROTECT));
}

}  // extern "C"

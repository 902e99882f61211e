#pragma once
// The PIC32MX340F512H as the firmware sees it: register names, register bits,
// the core primitives and the peripheral-library calls. The same names work on
// both backends: "sfr_access.h" comes from the backend folder on the include
// path (platform/pic32/target for the chip, platform/pic32/sim for the board
// simulation) and says what a register access is.
#include <cstdint>

#include "sfr_access.h"
#include "sfr.h"

// SPIxCON
constexpr uint32_t SPICON_ON = 1u << 15;
constexpr uint32_t SPICON_MODE32 = 1u << 11;
constexpr uint32_t SPICON_MODE16 = 1u << 10;
constexpr uint32_t SPICON_SMP = 1u << 9;
constexpr uint32_t SPICON_CKE = 1u << 8;
constexpr uint32_t SPICON_CKP = 1u << 6;
constexpr uint32_t SPICON_MSTEN = 1u << 5;
// SPIxSTAT
constexpr uint32_t SPISTAT_SPIRBF = 1u << 0;
constexpr uint32_t SPISTAT_SPITBE = 1u << 3;
constexpr uint32_t SPISTAT_SPIROV = 1u << 6;
constexpr uint32_t SPISTAT_SPIBUSY = 1u << 11;
// Interrupt controller
constexpr uint32_t INTCON_MVEC = 1u << 12;
constexpr uint32_t IFS0_CTIF = 1u << 0;
constexpr uint32_t IEC0_CTIE = 1u << 0;
constexpr uint32_t IPC0_CTIP_SHIFT = 2;
constexpr uint32_t IPC0_CTIP_MASK = 7u << IPC0_CTIP_SHIFT;
constexpr uint32_t IPC0_CTIS_MASK = 3u;
// OSCCON
constexpr uint32_t OSCCON_PBDIV_SHIFT = 19;
constexpr uint32_t OSCCON_PBDIV_MASK = 3u << OSCCON_PBDIV_SHIFT;
// SYSKEY unlock sequence and the relock value
constexpr uint32_t SYSKEY_UNLOCK1 = 0xAA996655u;
constexpr uint32_t SYSKEY_UNLOCK2 = 0x556699AAu;
constexpr uint32_t SYSKEY_RELOCK = 0x33333333u;
// DMACON, CHECON, BMXCON, DDPCON
constexpr uint32_t DMACON_SUSPEND = 1u << 12;
constexpr uint32_t CHECON_PFMWS_MASK = 7u;
constexpr uint32_t CHECON_PREFEN_MASK = 3u << 4;
constexpr uint32_t BMXCON_BMXWSDRM = 1u << 6;
constexpr uint32_t DDPCON_JTAGEN = 1u << 3;
// CP0 Status
constexpr uint32_t CP0_STATUS_IE = 1u << 0;

#include "plib.h"

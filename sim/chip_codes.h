// The simulated chip's status register bits and command codes, as the makers' datasheets name
// them. Freestanding, like model.h, which includes it.
#pragma once

#include <stdint.h>

namespace simcore {

// Chip status register.
const uint8_t kSrBusy = 0x01;
const uint8_t kSrWel = 0x02;
const uint8_t kSrBp = 0x1C;
const uint8_t kSrAai = 0x40;  // SST25: auto-address-increment programming under way
const uint8_t kSrSrwd = 0x80; // also the SST25's BPL and the AT25DF's SPRL: locked while WP is low
                              // (the W25Q's SRP0)

// Status register 2 (W25Q): read with 0x35, written as the second byte of 0x01 (or with 0x31).
const uint8_t kSr2Srp1 =
    0x01; // set: the status is locked (power-supply lock-down; with SRP0, for good)
const uint8_t kSr2Qe = 0x02;  // quad enable
const uint8_t kSr2Lb = 0x38;  // LB1-LB3, the security registers' one-time lock bits
const uint8_t kSr2Cmp = 0x40; // complement protect: the block protection covers the rest

// Chip commands.
const uint8_t kCmdWriteStatus = 0x01;
const uint8_t kCmdWriteStatus2 = 0x31;
const uint8_t kCmdReadStatus2 = 0x35;
const uint8_t kCmdReadSfdp = 0x5A;
const uint8_t kCmdEnableBusyOut = 0x70;  // SST25 EBSY: SO shows RY/BY# during AAI programming
const uint8_t kCmdDisableBusyOut = 0x80; // SST25 DBSY
const uint8_t kCmdReadMfrDevice = 0x90;  // REMS / the SST25's read-ID
const uint8_t kCmdRelease = 0xAB;        // release from deep power-down, legacy signature (RES)
const uint8_t kCmdDeepPowerDown = 0xB9;
const uint8_t kCmdPageProgram = 0x02;
const uint8_t kCmdRead = 0x03;
const uint8_t kCmdWriteDisable = 0x04;
const uint8_t kCmdReadStatus = 0x05;
const uint8_t kCmdWriteEnable = 0x06;
const uint8_t kCmdPageWrite = 0x0A;
const uint8_t kCmdFastRead = 0x0B;
const uint8_t kCmdErase4k = 0x20;
const uint8_t kCmdProtectSector = 0x36;
const uint8_t kCmdUnprotectSector = 0x39;
const uint8_t kCmdReadSectorProtection = 0x3C;
const uint8_t kCmdWriteBlockProtection = 0x42;
const uint8_t kCmdEnableWriteStatus = 0x50;
const uint8_t kCmdErase32k = 0x52;
const uint8_t kCmdReadBlockProtection = 0x72;
const uint8_t kCmdGlobalUnlock = 0x98;
const uint8_t kCmdAaiProgram = 0xAD;
const uint8_t kCmdBulkErase = 0xC7;
const uint8_t kCmdBulkErase2 = 0x60;
const uint8_t kCmdSectorErase = 0xD8;
const uint8_t kCmdPageErase = 0xDB;
const uint8_t kCmdReadId = 0x9F;

} // namespace simcore

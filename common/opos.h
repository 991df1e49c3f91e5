#pragma once
// OPOS numbers shared by the service object, the control-object stand-in and the
// tools: result codes, states, power states, status codes and property indexes.
#include <cstdint>

namespace qz381::opos {

// Result codes
inline constexpr int32_t OPOS_SUCCESS = 0;
inline constexpr int32_t OPOS_E_CLOSED = 101;
inline constexpr int32_t OPOS_E_CLAIMED = 102;
inline constexpr int32_t OPOS_E_NOTCLAIMED = 103;
inline constexpr int32_t OPOS_E_NOSERVICE = 104;
inline constexpr int32_t OPOS_E_DISABLED = 105;
inline constexpr int32_t OPOS_E_ILLEGAL = 106;
inline constexpr int32_t OPOS_E_NOHARDWARE = 107;
inline constexpr int32_t OPOS_E_OFFLINE = 108;
inline constexpr int32_t OPOS_E_NOEXIST = 109;
inline constexpr int32_t OPOS_E_EXISTS = 110;
inline constexpr int32_t OPOS_E_FAILURE = 111;
inline constexpr int32_t OPOS_E_TIMEOUT = 112;
inline constexpr int32_t OPOS_E_BUSY = 113;
inline constexpr int32_t OPOS_E_EXTENDED = 114;

// Extended result codes
inline constexpr int32_t OPOS_EPTR_COVER_OPEN = 201;
inline constexpr int32_t OPOS_EPTR_REC_EMPTY = 203;
inline constexpr int32_t OPOS_EPTR_TOOBIG = 206;
inline constexpr int32_t OPOS_EPTR_REC_CARTRIDGE_REMOVED = 211;
inline constexpr int32_t OPOS_EPTR_REC_CARTRIDGE_EMPTY = 212;
inline constexpr int32_t OPOS_EPTR_REC_HEAD_CLEANING = 213;
// The printer's own failure codes, the extended result of OPOS_E_FAILURE.
inline constexpr int32_t kFailureUnrecoverable = 401;
inline constexpr int32_t kFailureKnifeCut = 402;
inline constexpr int32_t kFailureMechanical = 403;
inline constexpr int32_t kFailureShortWrite = 410;  // the port took less than it was given

// States
inline constexpr int32_t OPOS_S_CLOSED = 1;
inline constexpr int32_t OPOS_S_IDLE = 2;
inline constexpr int32_t OPOS_S_BUSY = 3;
inline constexpr int32_t OPOS_S_ERROR = 4;

// What a method needs of the device before it runs (CPOSPrinter::CheckState).
inline constexpr int32_t kNeedClaimed = 1;
inline constexpr int32_t kNeedEnabled = 2;
inline constexpr int32_t kNeedNotBusy = 4;  // idle, or asynchronous output
inline constexpr int32_t kClaimedEnabled = kNeedClaimed | kNeedEnabled;
inline constexpr int32_t kClaimedEnabledIdle = kClaimedEnabled | kNeedNotBusy;

// Power
inline constexpr int32_t OPOS_PR_NONE = 0;
inline constexpr int32_t OPOS_PR_STANDARD = 1;
inline constexpr int32_t OPOS_PS_UNKNOWN = 2000;
inline constexpr int32_t OPOS_PS_ONLINE = 2001;
inline constexpr int32_t OPOS_PS_OFF = 2002;
inline constexpr int32_t OPOS_PS_OFFLINE = 2003;
inline constexpr int32_t OPOS_PS_OFF_OFFLINE = 2004;

// Error loci and responses
inline constexpr int32_t OPOS_EL_OUTPUT = 1;
inline constexpr int32_t OPOS_EL_INPUT = 2;
inline constexpr int32_t OPOS_EL_INPUT_DATA = 3;
inline constexpr int32_t OPOS_ER_RETRY = 11;
inline constexpr int32_t OPOS_ER_CLEAR = 12;
inline constexpr int32_t OPOS_ER_CONTINUEINPUT = 13;

// Stations and POSPrinter status codes
inline constexpr int32_t PTR_S_RECEIPT = 2;
inline constexpr int32_t PTR_S_SLIP = 4;
inline constexpr int32_t PTR_SUE_COVER_OPEN = 11;
inline constexpr int32_t PTR_SUE_COVER_OK = 12;
inline constexpr int32_t PTR_SUE_REC_EMPTY = 24;
inline constexpr int32_t PTR_SUE_REC_NEAREMPTY = 25;
inline constexpr int32_t PTR_SUE_REC_PAPEROK = 26;
inline constexpr int32_t PTR_SUE_REC_CARTRIDGE_EMPTY = 45;
inline constexpr int32_t PTR_SUE_REC_HEAD_CLEANING = 46;
inline constexpr int32_t PTR_SUE_REC_CARTRIDGE_NEAREMPTY = 47;
inline constexpr int32_t PTR_SUE_REC_CARTRIDGE_OK = 48;
inline constexpr int32_t PTR_SUE_IDLE = 1001;

// Cartridge states
inline constexpr int32_t PTR_CART_OK = 0;
inline constexpr int32_t PTR_CART_REMOVED = 1;
inline constexpr int32_t PTR_CART_EMPTY = 2;
inline constexpr int32_t PTR_CART_NEAREND = 4;
inline constexpr int32_t PTR_CART_CLEANING = 8;
inline constexpr int32_t PTR_CART_UNKNOWN = 0x10000000;

// Method arguments
inline constexpr int32_t OPOS_CH_INTERNAL = 1;
inline constexpr int32_t OPOS_CH_EXTERNAL = 2;
inline constexpr int32_t OPOS_CH_INTERACTIVE = 3;
inline constexpr int32_t PTR_TP_TRANSACTION = 11;
inline constexpr int32_t PTR_TP_NORMAL = 12;
inline constexpr int32_t PTR_RP_NORMAL = 0x0001;
inline constexpr int32_t PTR_RP_RIGHT90 = 0x0101;
inline constexpr int32_t PTR_RP_LEFT90 = 0x0102;
inline constexpr int32_t PTR_RP_ROTATE180 = 0x0103;
inline constexpr int32_t PTR_BM_LEFT = -1;
inline constexpr int32_t PTR_BM_CENTER = -2;
inline constexpr int32_t PTR_BM_RIGHT = -3;
inline constexpr int32_t PTR_PM_PAGE_MODE = 1;
inline constexpr int32_t PTR_PM_PRINT_SAVE = 2;
inline constexpr int32_t PTR_PM_NORMAL = 3;
inline constexpr int32_t PTR_PM_CANCEL = 4;
inline constexpr int32_t PTR_CCS_ASCII = 998;
inline constexpr int32_t PTR_MM_DOTS = 1;
inline constexpr int32_t PTR_MM_TWIPS = 2;
inline constexpr int32_t PTR_MM_ENGLISH = 3;
inline constexpr int32_t PTR_MM_METRIC = 4;

// Event kinds as the service object queues them.
inline constexpr int32_t kEventDirectIO = 2;
inline constexpr int32_t kEventError = 3;
inline constexpr int32_t kEventOutputComplete = 4;
inline constexpr int32_t kEventStatusUpdate = 5;

}  // namespace qz381::opos

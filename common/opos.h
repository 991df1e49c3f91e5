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
inline constexpr int32_t OPOS_EPTR_REC_CARTRIDGE_REMOVED = 211;
inline constexpr int32_t OPOS_EPTR_REC_CARTRIDGE_EMPTY = 212;
inline constexpr int32_t OPOS_EPTR_REC_HEAD_CLEANING = 213;

// States
inline constexpr int32_t OPOS_S_CLOSED = 1;
inline constexpr int32_t OPOS_S_IDLE = 2;
inline constexpr int32_t OPOS_S_BUSY = 3;
inline constexpr int32_t OPOS_S_ERROR = 4;

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
inline constexpr int32_t PTR_SUE_IDLE = 1001;
inline constexpr int32_t PTR_CART_UNKNOWN = 0x10000000;
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

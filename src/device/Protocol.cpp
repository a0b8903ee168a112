#include "device/Protocol.h"

#include <array>

#include "device/CommandCatalogue.h"

namespace korvel {

namespace {
using E = Exchange;
using A = AnswerLayout;
constexpr bool kLocal = false, kRelayed = true;

constexpr std::array<CommandEntry, 29> kCommands{{
    {C_Rd_Reg, "C_Rd_Reg", kLocal, E::SetAndGet, A::Word, false},
    {C_Wrt_Reg, "C_Wrt_Reg", kLocal, E::Set, A::None, false},
    {C_Rd_RFIC_TRX5120B, "C_Rd_RFIC_TRX5120B", kLocal, E::SetAndGet, A::ByteAt1, false},
    {C_Wrt_RFIC_TRX5120B, "C_Wrt_RFIC_TRX5120B", kLocal, E::Set, A::None, false},
    {C_Combo_Cmd, "C_Combo_Cmd", kLocal, E::Set, A::None, false},
    {C_Get_Link_Status, "C_Get_Link_Status", kLocal, E::SetAndGet, A::LinkStatus, false},
    {C_Get_TX_Battery, "C_Get_TX_Battery", kLocal, E::SetAndGet, A::Battery, false},
    {C_ENTER_ACCESS, "C_ENTER_ACCESS", kLocal, E::Set, A::None, true},
    {C_LEAVE_ACCESS, "C_LEAVE_ACCESS", kLocal, E::Set, A::None, true},
    {C_JUMP_TO_POR, "C_JUMP_TO_POR", kLocal, E::Set, A::None, false},
    {C_RELOAD_PARAMETER, "C_RELOAD_PARAMETER", kLocal, E::Set, A::None, false},
    {C_Wrt_Direct_Reg, "C_Wrt_Direct_Reg", kLocal, E::Set, A::None, false},
    // Direct register 0xFF answers the special query's seven status bytes instead.
    {C_Rd_Direct_Reg, "C_Rd_Direct_Reg", kLocal, E::SetAndGet, A::ByteAt0, false},
    {C_Enable_RSSI, "C_Enable_RSSI", kLocal, E::Set, A::None, true},
    {C_Disable_RSSI, "C_Disable_RSSI", kLocal, E::Set, A::None, true},
    {C_Set_Device_Type, "C_Set_Device_Type", kLocal, E::Set, A::None, false},
    {C_RF_Wrt_EEPROM, "C_RF_Wrt_EEPROM", kRelayed, E::SetAndGet, A::EepromConfirm, false},
    {C_RF_Wrt_Index_Reg, "C_RF_Wrt_Index_Reg", kRelayed, E::Set, A::None, false},
    {C_RF_Wrt_Direct_Reg, "C_RF_Wrt_Direct_Reg", kRelayed, E::Set, A::None, false},
    {C_RF_Rd_EEPROM, "C_RF_Rd_EEPROM", kRelayed, E::SetAndGet, A::ByteAt0, false},
    {C_RF_Rd_Index_Reg, "C_RF_Rd_Index_Reg", kRelayed, E::SetAndGet, A::ByteAt0, false},
    {C_RF_Rd_Direct_Reg, "C_RF_Rd_Direct_Reg", kRelayed, E::SetAndGet, A::ByteAt0, false},
    {C_RF_Wrt_RFIC_TRX5120B, "C_RF_Wrt_RFIC_TRX5120B", kRelayed, E::Set, A::None, false},
    {C_RF_Rd_RFIC_TRX5120B, "C_RF_Rd_RFIC_TRX5120B", kRelayed, E::SetAndGet, A::ByteAt0, false},
    {C_RF_Wrt_Sensor, "C_RF_Wrt_Sensor", kRelayed, E::Set, A::None, false},
    {C_RF_Rd_Sensor, "C_RF_Rd_Sensor", kRelayed, E::SetAndGet, A::ByteAt0, false},
    {C_RF_ENTER_ACCESS, "C_RF_ENTER_ACCESS", kRelayed, E::Set, A::None, false},
    {C_RF_LEAVE_ACCESS, "C_RF_LEAVE_ACCESS", kRelayed, E::Set, A::None, false},
    {C_RF_SETUP_CPI, "C_RF_SETUP_CPI", kRelayed, E::Set, A::None, false},
}};
}  // namespace

std::span<const CommandEntry> CommandTable() {
  return kCommands;
}

const CommandEntry* FindCommand(uint8_t code) {
  for (const CommandEntry& c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}

}  // namespace korvel

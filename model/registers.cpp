#include "model/registers.h"

namespace kvx {

// The controller's own vocabulary, spelling included ("sibstit_load2" is the controller's).
const char* const parameterNames[kParameterCount + 1] = {
    "product_type",                      // 1
    "version",                           // 2
    "serial_number",                     // 3
    "modbus_address",                    // 4
    "j1939_preff_sa",                    // 5
    "calibrated",                        // 6
    "save_data_command",                 // 7
    "rtc_update",                        // 8
    "min_meter",                         // 9
    "hour_meter",                        // 10
    "alarm_relay_active_closed",         // 11
    "shutdown_relay_active_closed",      // 12
    "watt_meter_input_gain",             // 13
    "watt_meter_input_offset",           // 14
    "vibrat_sensor_input_gain",          // 15
    "vibrat_sensor_input_offset",        // 16
    "alarm_status_saved",                // 17
    "config",                            // 18
    "temp_mode_status",                  // 19
    "alarm_mode_status",                 // 20
    "ma_min",                            // 21
    "ma_max",                            // 22
    "load_min",                          // 23
    "load_max",                          // 24
    "vibrat_min",                        // 25
    "vibrat_max",                        // 26
    "pressure_min",                      // 27
    "pressure_max",                      // 28
    "fuel_flow_min_eng_stopped",         // 29
    "fuel_flow_min",                     // 30
    "fuel_flow_max",                     // 31
    "fuel_substit_min",                  // 32
    "fuel_substit_max",                  // 33
    "f_emerg_stop",                      // 34
    "f_press_switch",                    // 35
    "press_sp_tx_rate",                  // 36
    "analog_in_tx_rate",                 // 37
    "timestamp_tx_rate",                 // 38
    "press_trim_step",                   // 39
    "temp_topping",                      // 40
    "load_sp0",                          // 41
    "load_sp1",                          // 42
    "load_sp2",                          // 43
    "load_sp3",                          // 44
    "load_sp4",                          // 45
    "load_sp5",                          // 46
    "load_sp6",                          // 47
    "load_sp7",                          // 48
    "load_sp8",                          // 49
    "load_sp9",                          // 50
    "pressure_sp0",                      // 51
    "pressure_sp1",                      // 52
    "pressure_sp2",                      // 53
    "pressure_sp3",                      // 54
    "pressure_sp4",                      // 55
    "pressure_sp5",                      // 56
    "pressure_sp6",                      // 57
    "pressure_sp7",                      // 58
    "pressure_sp8",                      // 59
    "pressure_sp9",                      // 60
    "substit_load0",                     // 61
    "substit_load1",                     // 62
    "sibstit_load2",                     // 63
    "substit_load3",                     // 64
    "substit_diesel_flow0",              // 65
    "substit_diesel_flow1",              // 66
    "substit_diesel_flow2",              // 67
    "substit_diesel_flow3",              // 68
    "acknowledge_alarm",                 // 69
    "data_log_enable",                   // 70
    "log_rate",                          // 71
    "log_anyway",                        // 72
    "ecu_low_flow_cycles_max",           // 73
    "log_time_after_shutdown",           // 74
    "exhaust_temp_avg_shutdown",         // 75
    "exhaust_temp_avg_rate",             // 76
    "exhaust_temp_avg_shutdown_max",     // 77
    "exhaust_temp_avg_shutdown_delay",   // 78
    "vibration_avg_shutdown",            // 79
    "vibration_avg_rate",                // 80
    "vibration_avg_shutdown_max",        // 81
    "vibration_avg_shutdown_delay",      // 82
    "diesel_flow_input_gain",            // 83
    "diesel_flow_input_offset",          // 84
    "diesel_flow_input_max",             // 85
    "v_min",                             // 86
    "v_max",                             // 87
    "delay_autostart_timer_low_supply",  // 88
    "load_filter_rate",                  // 89
    "indicator_type",                    // 90
    "fuel_flow_rate_source",             // 91
    "overspeed",                         // 92
    "vibrat_load0",                      // 93
    "vibrat_load1",                      // 94
    "vibrat_load2",                      // 95
    "vibrat_load3",                      // 96
    "vibrat_max0",                       // 97
    "vibrat_max1",                       // 98
    "vibrat_max2",                       // 99
    "vibrat_max3",                       // 100
    "shutdown_delay_timer",              // 101
    "press_adjust_delay_timer",          // 102
    "press_ramp_rate",                   // 103
    "flow_setpoint",                     // 104
    "flow_ki",                           // 105
    "delay_autostart_timer_high_subst",  // 106
    "low_batt_limit",                    // 107
    "exhaust_temp_max",                  // 108
    "exhaust_temp_ki",                   // 109
    "subst_rate_ki",                     // 110
    "flow_below_min_alarm",              // 111
    "f_pressure_switch_high",            // 112
    "f_external_shutoff",                // 113
    "left_bank_sa_address",              // 114
    "gas_flow_input_gain",               // 115
    "gas_flow_input_offset",             // 116
    "gas_ma_min",                        // 117
    "gas_ma_max",                        // 118
    "gas_flow_input_max",                // 119
    "diesel_price_liter",                // 120
    "gas_price_m3",                      // 121
    "substit_rate_gas_meter",            // 122
    "total_savings_low",                 // 123
    "total_savings_high",                // 124
    "savings_per_hr",                    // 125
    "f_shutoff_relay",                   // 126
    "filter_flow_enable",                // 127
    "gas_in_offset",                     // 128
    "dies_in_offset",                    // 129
    "low_supply_press_email",            // 130
    "high_supply_press_email",           // 131
    "diesel_flow_below_min_email",       // 132
    "press_xducer_failed_email",         // 133
    "high_substitution_email",           // 134
    "low_substitution_email",            // 135
    "watt_signal_below_1stp_email",      // 136
    "overspeed_email",                   // 137
    "high_temp_email",                   // 138
    "high_vibration_email",              // 139
    "alarm_delay_timer",                 // 140
    "hp0",                               // 141
    "hp1",                               // 142
    "hp2",                               // 143
    "hp3",                               // 144
    "hp_gain0",                          // 145
    "hp_offset0",                        // 146
    "hp_gain1",                          // 147
    "hp_offset1",                        // 148
    "hp_gain2",                          // 149
    "hp_offset2",                        // 150
    "gas_btu_ft3",                       // 151
    "rtc_min_4x",                        // 152
    "rtc_hour_4x",                       // 153
    "rtc_wday_4x",                       // 154
    "rtc_mdate_4x",                      // 155
    "rtc_month_4x",                      // 156
    "rtc_year_4x",                       // 157
    "low_bat_voltage_email",             // 158
    "gas_on_email",                      // 159
    "spare_alarm2_email",                // 160
    "spare_alarm3_email",                // 161
    "spare_alarm4_email",                // 162
    "ecu_active",                        // 163
    "load_to_flow_gain1",                // 164
    "load_to_flow_gain2",                // 165
    "load_to_flow_offset",               // 166
    "gain1_div",                         // 167
    "gain2_div",                         // 168
    "offset_div",                        // 169
    "eng_efficiency",                    // 170
    "well_depth",                        // 171
    "rated_pump_gpm",                    // 172
    "rated_pump_rpm",                    // 173
    "min_substitution_rpm",              // 174
    "high_press_cycles_max",             // 175
    "spare0",                            // 176
    "spare1",                            // 177
    "",
};

std::string_view parameterName(int reference) {
    if (reference < 1 || reference > kParameterCount) return {};
    return parameterNames[reference - 1];
}

int findParameter(std::string_view name) {
    if (name.empty()) return 0;
    for (int i = 0; i < kParameterCount; ++i) {
        if (name == parameterNames[i]) return i + 1;
    }
    return 0;
}

int calibrationNameCount(int firmwareVersion) {
    if (firmwareVersion <= 106) return 112;
    if (firmwareVersion <= 114) return 151;
    if (firmwareVersion <= 116) return 174;
    return 177;
}

}  // namespace kvx

#pragma once
// The parameter table: one row per option of the main configuration file.

#include "config/param.h"

#include <array>
#include <variant>

using param_target = std::variant<int32_t server_param_record::*,
                                  param_text server_param_record::*,
                                  user_option_list server_param_record::*,
                                  port_range server_param_record::*>;

struct param_entry {
    const char* name;
    param_type type;
    param_target target;
};

inline constexpr size_t param_option_count = 44;

// The 44 rows followed by the row without a name.
extern const std::array<param_entry, param_option_count + 1> param_table;

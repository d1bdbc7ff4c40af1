#include "tool/login_state.h"

login_record login_state;

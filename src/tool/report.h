#pragma once
// The status report: how the server would treat a login under a name.

// Prints the report; 0, or -1 when the user does not exist or memory ran out.
[[nodiscard]] int print_user_status(const char* name);

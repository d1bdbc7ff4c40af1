// PLACEHOLDER until path resolution lands.
#include "share/share.h"
const char* kestrad_share_resolve_path(const user_share_list*, const char*, int) { return nullptr; }
int kestrad_share_real_to_virtual(const user_share_list*, char*, size_t) { return -1; }
int kestrad_share_check_access(const user_share_list*, const char*, int) { return 0; }
const user_share* kestrad_share_find(const user_share_list*, const char*) { return nullptr; }

// PLACEHOLDER until the per-user share list lands.
#include "share/share.h"
int kestrad_share_user_list(const char*, const char*, const share_conf_list*, user_share_list*) { return -1; }
void kestrad_share_free_user_list(user_share_list* out) { if (out) out->clear(); }

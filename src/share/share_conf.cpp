// PLACEHOLDER until the share configuration reader lands.
#include "share/share.h"
int kestrad_share_read_conf(const char*, share_conf_list*) { return -1; }
void kestrad_share_free_conf(share_conf_list* list) { if (list) list->clear(); }

// PLACEHOLDER until the per-IP table lands.
#include "limits/ipconn.h"
int kestrad_ipconn_alloc(int) { return 0; }
void kestrad_ipconn_free() {}

// PLACEHOLDER until the text user database lands.
#include "textuser/textuser.h"
int kestrad_textuser_get(const char*, const char*, text_user* user) { if (user) kestrad_textuser_free(user); return -1; }
void kestrad_textuser_free(text_user* user) { if (user) *user = text_user{}; }
int kestrad_textuser_put(const char*, const char*, const text_user*) { return -1; }

// The main configuration file through the reader and the parameter table.
#include "config/misc.h"
#include "config/param.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_log();
    const std::string& path = fuzz_input_file(data, size);
    kestrad_param_init();
    (void)kestrad_read_conf(path.c_str(), kestrad_param_set_option);
    kestrad_param_free();
    return 0;
}

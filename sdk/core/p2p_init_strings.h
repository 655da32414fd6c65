// Which peer-to-peer init string serves a device ID, chosen by its prefix.
#pragma once

// Never NULL; an unknown prefix gets the first row's string.
const char *p2p_init_string_for(const char *device_id);

// "kvuflash-cli verify FILE" and "kvuflash-cli info": the running unit asked over its remote
// control (9600 baud, "SWR?" then "FCS?") for its software and memory checksums; verify compares
// them with FILE's, at any record count. They run on the units' one road (upload_command.h).
#pragma once

#include <string>

#include "cli/convert_command.h"

extern const char* const kVerifyHelpText;
extern const char* const kInfoHelpText;

// FILE's records and checksums, as its upload file would hold them, read in memory: a .KVU's
// trailer, or an Intel HEX file or binary image converted without writing anything. A file
// that cannot be used raises an exception whose words name it.
PreparedUpload FileSumsInMemory(const std::string& file);

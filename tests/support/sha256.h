// SHA-256 of a byte string as lower-case hex, to check copies against the
// peer data's manifests.
#pragma once
#include <string>

std::string sha256_hex(const std::string &data);

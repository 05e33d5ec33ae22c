#pragma once
// What a RUF file should leave in a radio's flash, worked out from the file's
// Intel-HEX records alone, apart from the program's own decoder.

#include <string>
#include <vector>

// The Intel-HEX records of a RUF file's text, in order, without line ends.
std::vector<std::string> IntelHexRecords(const std::string& fileText);

// The flash image that the Intel-HEX records of the RUF file at rufPath
// describe, as radio-sim dumps it: the bytes from the lowest address written
// to the highest, gaps 0xFF. Empty when the file has no data.
std::string ExpectedFlashImage(const std::string& rufPath);

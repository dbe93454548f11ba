// Builders of inquiry data for the scripted SCSI devices of the tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace inquiry_data {

// Standard inquiry data of 136 bytes (the long vendor area) with the given
// vendor, product and device number characters at their places.
inline std::vector<uint8_t> Standard(const std::string& vendor,
                                     const std::string& product,
                                     const std::string& dev) {
  std::vector<uint8_t> d(136, 0);
  d[4] = uint8_t(d.size() - 5);  // additional length
  for (size_t i = 0; i < vendor.size() && i < 8; ++i) d[8 + i] = uint8_t(vendor[i]);
  for (size_t i = 0; i < product.size() && i < 16; ++i) d[16 + i] = uint8_t(product[i]);
  for (size_t i = 0; i < dev.size() && i < 4; ++i) d[132 + i] = uint8_t(dev[i]);
  return d;
}

// Device Identification page of one LU NAA designator whose bytes are
// `payload`, padded with zeros to 16.
inline std::vector<uint8_t> Page83(std::vector<uint8_t> payload) {
  payload.resize(16, 0);
  std::vector<uint8_t> d = {0x00, 0x83, 0x00, 20, 0x01, 0x03, 0x00, 0x10};
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

// SPC-layout page naming array serial `serial` (12 decimal digits) in
// bytes 12 to 17.
inline std::vector<uint8_t> Page83ForSerial(const std::string& serial) {
  std::vector<uint8_t> p = {0x60, 0x00, 0x09, 0x70};
  for (size_t i = 0; i + 1 < serial.size(); i += 2)
    p.push_back(uint8_t(std::stoi(serial.substr(i, 2), nullptr, 16)));
  return Page83(p);
}

// Hex bytes of a sample file; lines starting with '#' are skipped unless
// `commented` is set, in which case only the "# " hex lines are read.
inline std::vector<uint8_t> ReadHexSample(const std::string& path,
                                          bool commented = false) {
  std::ifstream in(path);
  std::vector<uint8_t> out;
  const std::string bytes = "(\\s*[0-9a-fA-F]{2}(?:\\s+[0-9a-fA-F]{2})*)\\s*";
  const std::regex hexLine(commented ? "#" + bytes : bytes);
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (!std::regex_match(line, m, hexLine)) continue;
    std::istringstream words(m[1].str());
    for (std::string w; words >> w;) out.push_back(uint8_t(std::stoi(w, nullptr, 16)));
  }
  return out;
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes) s += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0xF]};
  return s;
}

}  // namespace inquiry_data

// The array map request reader: any text, valid JSON or not, gives a
// result and no exception; a request written by the plug-in reads back to
// the same initiators.
#include <exception>
#include <sstream>

#include "engine/PZSOVMAX.h"
#include "tests/fuzz/FuzzHost.h"

namespace {

std::list<std::string> Lines(const std::string& text, size_t from, size_t to) {
  std::list<std::string> out;
  std::istringstream in(text.substr(from, to - from));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::FreshHost();
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    VMAX_HBAs hbas;
    hbas.localHbas = {"kept"};
    bool ok = getDetailsForArrayMapRequest(text, hbas);
    if (!ok && text.empty() && hbas.localHbas != std::list<std::string>{"kept"})
      fuzzing::Fail("empty request changed the lists", text);

    // Initiator names from the input (lines; a NUL line splits the lists),
    // through the writer and back.
    size_t split = text.find('\0');
    if (split == std::string::npos) split = text.size();
    VMAX_HBAs written;
    written.localHbas = Lines(text, 0, split);
    written.esxHbas = Lines(text, split < text.size() ? split + 1 : split, text.size());
    std::string json;
    if (!populateJsonForArrayMapRequest(written, json)) return 0;
    VMAX_HBAs back;
    bool read = getDetailsForArrayMapRequest(json, back);
    bool any = !written.localHbas.empty() || !written.esxHbas.empty();
    if (any && (!read || back.localHbas != written.localHbas ||
                back.esxHbas != written.esxHbas))
      fuzzing::Fail("written map request does not read back", json);
  } catch (const std::exception& e) {
    fuzzing::Fail("exception out of the map request reader", e.what());
  }
  return 0;
}

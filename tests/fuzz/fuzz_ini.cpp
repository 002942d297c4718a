// libFuzzer target of the settings files: any bytes read as config.ini and setup.ini, then one
// key written. Untouched bytes must survive, and a written value must read back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/display_settings.h"
#include "settings/ini_file.h"
#include "settings/program_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  aqled::IniFile ini(bytes);
  if (ini.Bytes() != bytes) std::abort();

  aqled::ProgramDefaults defaults = aqled::MakeProgramDefaults("/app/", "192.0.2.1", "https://site.example");
  (void)aqled::ReadProgramSettings(ini, defaults);
  (void)aqled::LoadDisplaySettings(ini);
  (void)aqled::ParseIniInteger(bytes.substr(0, 64));

  // The first line of the input names a section and a key; the rest is the value.
  const std::size_t eol = bytes.find('\n');
  const std::string_view head = bytes.substr(0, eol == std::string_view::npos ? 0 : eol);
  const std::size_t eq = head.find('=');
  if (eq != std::string_view::npos && eq > 0 && eq + 1 < head.size()) {
    const std::string section(head.substr(0, eq));
    const std::string key(head.substr(eq + 1));
    if (section.find_first_of("[]\r\n") == std::string::npos &&
        key.find_first_of("=[]\r\n") == std::string::npos && key.front() != ';' && key.front() > ' ' &&
        key.back() > ' ' && section.front() > ' ' && section.back() > ' ') {
      ini.WriteInteger(section, key, static_cast<int>(size));
      if (ini.ReadInteger(section, key, -1) != static_cast<int>(size)) std::abort();
      aqled::IniFile again(ini.Bytes());
      if (again.ReadInteger(section, key, -1) != static_cast<int>(size)) std::abort();
    }
  }
  return 0;
}

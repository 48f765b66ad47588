// zr90-docgen: keeps the files made from the dictionary in step with it.
//   zr90-docgen --check SOURCE_DIR   exit 1 and name each file that differs
//   zr90-docgen --write SOURCE_DIR   rewrite them
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "docgen/parameter_doc.h"

namespace {

bool read_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

struct Generated {
  std::string path;      // relative to the source directory
  std::string expected;  // the whole file as it must be
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "--check" && std::string(argv[1]) != "--write")) {
    std::fputs("Usage: zr90-docgen --check|--write SOURCE_DIR\n", stderr);
    return 2;
  }
  const bool write = std::string(argv[1]) == "--write";
  const std::string source_dir = argv[2];

  std::vector<Generated> files{{"docs/parameters.md", docgen::parameters_markdown()}};

  // The completion scripts are written by hand around their generated block of names.
  const struct {
    const char* path;
    const char* opening;
    const char* closing;
  } scripts[] = {{"completion/zr90-tools.bash", "_zr90_parameter_names=(\n", ")\n"},
                 {"completion/zr90.ps1", "$script:Zr90ParameterNames = -split @'\n", "'@\n"}};
  for (const auto& completion : scripts) {
    std::string script;
    if (!read_file(source_dir + "/" + completion.path, script) ||
        !docgen::replace_block(script, "PARAMETER NAMES",
                               docgen::completion_names_block(completion.opening, completion.closing))) {
      std::fprintf(stderr, "zr90-docgen: %s: no block between # BEGIN and # END PARAMETER NAMES\n", completion.path);
      return 2;
    }
    files.push_back({completion.path, script});
  }

  int stale = 0;
  for (const Generated& file : files) {
    const std::string path = source_dir + "/" + file.path;
    std::string current;
    if (read_file(path, current) && current == file.expected) continue;
    if (write) {
      if (!write_file(path, file.expected)) {
        std::fprintf(stderr, "zr90-docgen: cannot write %s\n", path.c_str());
        return 2;
      }
      std::printf("updated %s\n", file.path.c_str());
    } else {
      std::printf("%s does not match the dictionary: run  cmake --build <build dir> --target update-docs\n",
                  file.path.c_str());
      ++stale;
    }
  }
  return stale == 0 ? 0 : 1;
}

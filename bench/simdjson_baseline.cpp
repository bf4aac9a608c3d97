// What a plain simdjson program does with a device's JSON files: load each and parse it into
// a DOM, one parser reused. The floor the migration is measured against.
#include <simdjson.h>

#include <cstdio>

int main(int argc, char** argv) {
  simdjson::dom::parser parser;
  for (int i = 1; i < argc; ++i) {
    simdjson::padded_string text;
    simdjson::dom::element root;
    if (simdjson::padded_string::load(argv[i]).get(text) || parser.parse(text).get(root)) {
      std::fprintf(stderr, "simdjson_baseline: %s is not JSON\n", argv[i]);
      return 1;
    }
  }
  return 0;
}

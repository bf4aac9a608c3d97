#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "formats/json.hpp"
#include "formats/value.hpp"
#include "migration/write_behind.hpp"
#include "platform/file_manager.hpp"

namespace quorin::migration {

// One compact JSON object written member by member into a file, never held whole, a
// megabyte at a time from a thread of its own. Nothing
// is touched before the first member: that one ensures the directory and starts the file.
// The file appears, complete, only on commit(). One started and not written is noted with
// the file manager; a directory that cannot be made is a trouble of its own.
class JsonObjectFile {
 public:
  JsonObjectFile(platform::FileManager& files, std::filesystem::path directory, std::string name);

  // False, and nothing added, when the value has no JSON form.
  bool add(std::string_view name, const formats::Value& value);
  // A whole outlined document as the value of `name`.
  void addDocument(std::string_view name, const formats::JsonOutline& outline);
  // A member of the document `outline` outlined, as it is.
  void addMember(const formats::JsonMemberView& member, const formats::JsonOutline& outline);
  // Publishes the file, when it has a member; one that could not be written whole is noted
  // with the file manager, whose troubles keep a host from erasing what it came from.
  void commit();

 private:
  // A name `spelled` is already as JSON spells it, without escapes.
  enum class Name { toEscape, spelled };

  bool open();
  void beginMember(std::string_view name, Name form);
  // `text` is known to be JSON; `compact` when it has no white space to take out.
  void addText(std::string_view text, bool compact, const formats::JsonOutline& outline);
  void flushIfFull();
  void flush();

  platform::FileManager& files_;
  std::filesystem::path directory_;
  std::string name_;
  std::unique_ptr<platform::FileWriter> writer_;
  std::unique_ptr<WriteBehind> behind_;  // gone before the writer it writes to
  std::string buffer_;
  std::size_t count_ = 0;
  bool failed_ = false;
};

// Writes the JSON of `value` as the file `name` of the directory, made when missing, in one
// piece; a failed write, or a value with no JSON form, is noted as JsonObjectFile notes its
// own.
void writeOutputFile(platform::FileManager& files, const std::filesystem::path& directory,
                     std::string_view name, const formats::Value& value);
// Creates the directory and its parents when nothing is at its path.
bool ensureDirectory(platform::FileManager& files, const std::filesystem::path& directory);

}  // namespace quorin::migration

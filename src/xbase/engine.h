// The engine: numbered work areas holding open tables, the selected area, engine-wide
// settings and the three-step table creation (CreateNew, CreateField..., CreateExec).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "xbase/table.h"

namespace kv::xbase {

class Engine {
 public:
  explicit Engine(FileSystem &fs = PosixFileSystem());
  ~Engine();

  Settings &settings() { return settings_; }
  // Applies changed settings to every open table.
  void SettingsChanged();

  // Opens a table exclusively in a new work area and selects it. Returns the area (> 0),
  // or 0 with LastError() set.
  int Use(const std::string &path);
  void CloseArea(int area);
  void CloseAll();
  // Selects an area and returns the previously selected one (0 = none).
  int Select(int area);
  int Selected() const { return selected_; }
  Table *Area(int area) const;
  Table *Current() const { return Area(selected_); }

  // Table creation: CreateNew starts a definition, CreateField adds fields in call order,
  // CreateExec writes the files (the table is left closed). Each returns false on failure.
  bool CreateNew(const std::string &path, Flavour flavour, int fieldCount);
  bool CreateField(const std::string &name, char type, int width, int decimals);
  bool CreateExec();

  const Status &LastStatus() const { return last_; }
  const std::string &LastError() const { return last_.message; }
  void SetLastStatus(Status s) { last_ = std::move(s); }

  FileSystem &fileSystem() { return fs_; }

 private:
  FileSystem &fs_;
  Settings settings_;
  std::map<int, std::unique_ptr<Table>> areas_;
  int selected_ = 0;
  int nextArea_ = 1;
  Status last_;
  struct PendingCreate {
    std::string path;
    Flavour flavour = Flavour::FoxPro2;
    int expected = 0;
    std::vector<FieldDef> fields;
    bool active = false;
  } create_;
};

// The program-wide engine (the storage layer and the environment component share it).
Engine &DefaultEngine();

}  // namespace kv::xbase

#include "xbase/engine.h"

#include <cctype>

namespace kv::xbase {

Engine::Engine(FileSystem &fs) : fs_(fs) {}
Engine::~Engine() {
  CloseAll();
}

void Engine::SettingsChanged() {
  for (auto &[area, t] : areas_) t->ApplySettings(settings_);
}

int Engine::Use(const std::string &path) {
  std::unique_ptr<Table> t;
  Status st = Table::Open(path, settings_, &t, fs_);
  last_ = st;
  if (!st) return 0;
  int area = nextArea_++;
  areas_[area] = std::move(t);
  selected_ = area;
  return area;
}

void Engine::CloseArea(int area) {
  auto it = areas_.find(area);
  if (it == areas_.end()) return;
  last_ = it->second->Close();
  areas_.erase(it);
  if (selected_ == area) selected_ = 0;
}

void Engine::CloseAll() {
  while (!areas_.empty()) CloseArea(areas_.begin()->first);
}

int Engine::Select(int area) {
  int prev = selected_;
  if (area == 0 || areas_.count(area)) selected_ = area;
  return prev;
}

Table *Engine::Area(int area) const {
  auto it = areas_.find(area);
  return it == areas_.end() ? nullptr : it->second.get();
}

bool Engine::CreateNew(const std::string &path, Flavour flavour, int fieldCount) {
  create_ = PendingCreate{};
  if (path.empty() || fieldCount < 1 || fieldCount > 255) {
    last_ = Status::Error(ecBadArgument, "a new table needs a file name and 1 to 255 fields");
    return false;
  }
  create_.path = path;
  create_.flavour = flavour;
  create_.expected = fieldCount;
  create_.active = true;
  last_ = Status::Ok();
  return true;
}

bool Engine::CreateField(const std::string &name, char type, int width, int decimals) {
  if (!create_.active) {
    last_ = Status::Error(ecNotOpen, "no table is being created");
    return false;
  }
  if (int(create_.fields.size()) >= create_.expected) {
    last_ = Status::Error(ecBadFieldList, "more fields than announced");
    return false;
  }
  create_.fields.push_back({name, char(std::toupper(uint8_t(type))), width, decimals});
  last_ = Status::Ok();
  return true;
}

bool Engine::CreateExec() {
  if (!create_.active) {
    last_ = Status::Error(ecNotOpen, "no table is being created");
    return false;
  }
  PendingCreate c = std::move(create_);
  create_ = PendingCreate{};
  if (int(c.fields.size()) != c.expected) {
    last_ = Status::Error(ecBadFieldList, "fewer fields defined than announced");
    return false;
  }
  last_ = Table::Create(c.path, c.fields, c.flavour, settings_.memoBlockSize, fs_);
  return last_.ok() && fs_.Exists(c.path);
}

Engine &DefaultEngine() {
  static Engine engine;
  return engine;
}

}  // namespace kv::xbase

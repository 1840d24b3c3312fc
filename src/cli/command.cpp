#include "cli/command.h"

#include <QGuiApplication>
#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>

#include "base/error_text.h"

namespace kv::cli {

namespace {
const char *kTool = "korvane-fax";

void printToolHelp(std::ostream &out) {
  out << "Usage: " << kTool << " COMMAND [OPTIONS] ARGS...\n\n"
      << "Faxing from the command line: convert documents to APF fax files, look inside them\n"
      << "and unpack their pages, send and receive faxes, and set up the fax modem.\n\nCommands:\n";
  for (const Command &c : commands()) {
    std::string name = c.name;
    name.resize(std::max<std::size_t>(name.size(), 10), ' ');
    out << "  " << name << "  " << c.summary << "\n";
  }
  out << "\n'" << kTool << " COMMAND --help' describes one command.\n"
      << "Exit status: 0 done, 1 bad input or failed, 2 usage error.\n";
}
}  // namespace

std::optional<std::string> Args::value(const std::string &name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool Args::parse(std::span<const std::string> args, const std::vector<OptionSpec> &specs,
                 std::string &error) {
  values_.clear();
  positional_.clear();
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      positional_.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionSpec *option = nullptr;
    std::string inlineValue;
    bool hasInline = false;
    if (a[1] == '-') {
      std::string name = a.substr(2);
      if (auto eq = name.find('='); eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        hasInline = true;
        name.resize(eq);
      }
      for (const auto &s : specs)
        if (s.name == name) option = &s;
    } else if (a.size() == 2) {
      for (const auto &s : specs)
        if (s.shortName == a[1]) option = &s;
    }
    if (!option) {
      error = "unknown option '" + a + "'";
      return false;
    }
    if (option->argument.empty()) {
      if (hasInline) {
        error = "option '--" + option->name + "' takes no value";
        return false;
      }
      values_[option->name] = "";
    } else if (hasInline) {
      values_[option->name] = inlineValue;
    } else if (i + 1 < args.size()) {
      values_[option->name] = args[++i];
    } else {
      error = "option '--" + option->name + "' needs a value (" + option->argument + ")";
      return false;
    }
  }
  return true;
}

void printHelp(const Command &c, std::ostream &out) {
  out << "Usage: " << kTool << " " << c.name << " " << c.synopsis << "\n\n"
      << c.description << "\n";
  if (c.options.empty()) return;
  out << "\nOptions:\n";
  for (const auto &o : c.options) {
    std::string left = o.shortName ? std::string("-") + o.shortName + ", " : "    ";
    left += "--" + o.name;
    if (!o.argument.empty()) left += " " + o.argument;
    left.resize(std::max<std::size_t>(left.size(), 28), ' ');
    out << "  " << left << "  " << o.help << "\n";
  }
}

int fail(Context &ctx, const std::string &command, Result code, const std::string &what,
         const std::string &why) {
  std::string text = errorText(code);
  if (text.empty()) text = "error";
  ctx.err << kTool << " " << command << ": " << (what.empty() ? "" : what + ": ") << text
          << (why.empty() ? "" : ": " + why) << " (" << code << ")\n";
  return exitFailed;
}

int usageError(Context &ctx, const std::string &command, const std::string &message) {
  ctx.err << kTool << " " << command << ": " << message << "\n"
          << "Try '" << kTool << " " << command << " --help'.\n";
  return exitUsage;
}

bool ensureGuiApplication(Context &ctx, const std::string &command) {
  if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) return true;
  if (QCoreApplication::instance()) {
    ctx.err << kTool << " " << command << ": cannot lay out text in this process\n";
    return false;
  }
  static int argc = 3;
  static char name[] = "korvane-fax", opt[] = "-platform", platform[] = "offscreen";
  static char *argv[] = {name, opt, platform, nullptr};
  static std::unique_ptr<QGuiApplication> app(new QGuiApplication(argc, argv));
  return true;
}

bool parseInt(const std::string &s, int lo, int hi, int &out) {
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi) return false;
  out = v;
  return true;
}

namespace {
std::vector<Command> &commandTable() {
  static std::vector<Command> table = {convertCommand(), unpackCommand(),    infoCommand(),
                                       exportCommand(),  sendCommand(),      receiveCommand(),
                                       detectCommand(),  findModemCommand(), resetCommand(),
                                       spellCommand(),   renderCommand(),    printerCommand()};
  return table;
}
}  // namespace

const std::vector<Command> &commands() {
  return commandTable();
}

void addCommands(const std::vector<Command> &more) {
  for (const Command &c : more) {
    auto &table = commandTable();
    if (std::none_of(table.begin(), table.end(),
                     [&](const Command &t) { return t.name == c.name; }))
      table.push_back(c);
  }
}

int runTool(std::span<const std::string> args, Context &ctx) {
  if (args.empty()) {
    printToolHelp(ctx.err);
    return exitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printToolHelp(ctx.out);
    return exitOk;
  }
  const auto &table = commands();
  auto it =
      std::find_if(table.begin(), table.end(), [&](const Command &c) { return c.name == args[0]; });
  if (it == table.end()) {
    ctx.err << kTool << ": unknown command '" << args[0] << "'\n";
    printToolHelp(ctx.err);
    return exitUsage;
  }
  const Command &c = *it;
  const auto rest = args.subspan(1);
  if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
    printHelp(c, ctx.out);
    return exitOk;
  }
  Args parsed;
  std::string error;
  if (!parsed.parse(rest, c.options, error)) return usageError(ctx, c.name, error);
  const int n = static_cast<int>(parsed.positional().size());
  if (n < c.minPositional) return usageError(ctx, c.name, "missing argument: " + c.synopsis);
  if (n > c.maxPositional)
    return usageError(ctx, c.name,
                      "unexpected argument '" + parsed.positional()[c.maxPositional] + "'");
  return c.run(parsed, ctx);
}

}  // namespace kv::cli

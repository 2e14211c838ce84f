#include "CliApp.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

#include "CommandReference.h"
#include "TerminalText.h"
#include "JsonText.h"
#include "Trace.h"

#ifndef QRT_VERSION
#define QRT_VERSION "0.0.0"
#endif

namespace qrt::cli {

namespace {

// --json anywhere before "--" asks for JSON, also when the options are
// refused before a command could read its own flag.
bool AsksForJson(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view szArg(argv[i]);
    if (szArg == "--") break;
    if (szArg == "--json") return true;
  }
  return false;
}

}  // namespace

// The texts carry file names, paths and device or process names from
// outside: their control characters are shown escaped, never sent raw.
void CCliContext::Fail(const std::string& szText) {
  err << "qrt4250-cli: error: " << qrt::diag::EscapeControls(szText) << '\n';
  szLastError = szText;
  nExitCode = 1;
}

void CCliContext::PrintJson(const nlohmann::ordered_json& j, int nIndent) {
  out << qrt::diag::JsonText(j, nIndent) << '\n';
  bJsonPrinted = true;
}

void CCliContext::Warn(const std::string& szText) {
  err << "qrt4250-cli: warning: " << qrt::diag::EscapeControls(szText) << '\n';
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CCliContext ctx{out, err};
  ctx.bJson = AsksForJson(argc, argv);
  CLI::App app{"qrt4250-cli: show, convert and edit QRT4250 EEPROM images", "qrt4250-cli"};
  // Every option is --long or -x; on Windows a file name may begin with '/'
  // and must not be taken for an option. Set before the commands inherit it.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string("qrt4250-cli ") + QRT_VERSION);
  app.require_subcommand(1);
  bool bTrace = false;
  app.add_flag("--trace", bTrace, "Write the trace lines (diagnostics) to stderr");

  RegisterImageCommands(app, ctx);
  RegisterDeviceCommands(app, ctx);
  RegisterFieldCommands(app, ctx);
  RegisterSystemCommands(app, ctx);
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");

  // Hidden: the build writes the installed bash completion with it, so the
  // completion always knows the commands and options of this very program.
  if (argc == 2 && std::string_view(argv[1]) == "--bash-completion") {
    WriteBashCompletion(app, out);
    return 0;
  }

  // Route the trace channel before any command callback runs.
  qrt::diag::TraceSink previous;
  bool bSinkSet = false;
  app.parse_complete_callback([&]() {
    if (bTrace) {
      previous = qrt::diag::SetTraceSink([&err](std::string_view s) {
        // A trace line ends in its newline; what it names may come from outside.
        const bool bLine = !s.empty() && s.back() == '\n';
        err << qrt::diag::EscapeControls(bLine ? s.substr(0, s.size() - 1) : s)
            << (bLine ? "\n" : "");
      });
      bSinkSet = true;
    }
  });

  int nResult = 0;
  try {
    app.parse(argc, argv);
    nResult = ctx.nExitCode;
  } catch (const CLI::CallForHelp&) {
    // Help of the command that was asked, not only of the program.
    const CLI::App* pHelpFor = &app;
    for (const CLI::App* pSub : app.get_subcommands()) pHelpFor = pSub;
    out << pHelpFor->help();
    nResult = 0;
  } catch (const CLI::CallForAllHelp&) {
    WriteFullHelp(app, out);
    nResult = 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << '\n';
    nResult = 0;
  } catch (const CLI::ParseError& e) {
    ctx.Fail(e.what());
    nResult = 1;
    // template export prints JSON in any case, its refused options too.
    if (app.get_subcommand("template")->got_subcommand("export")) ctx.bJson = true;
  } catch (const std::exception& e) {
    // Whatever went wrong, the user gets a line and an exit status, never an abort.
    ctx.Fail(std::string("unexpected failure: ") + e.what());
    nResult = 1;
  }
  if (bSinkSet) qrt::diag::SetTraceSink(std::move(previous));
  // With --json every run ends with one document; a failure that printed
  // none of its own gets the error alone.
  if (ctx.bJson && nResult != 0 && !ctx.bJsonPrinted)
    ctx.PrintJson(nlohmann::ordered_json{{"error", ctx.szLastError}}, -1);
  // Output that never arrived (a full disk, a closed pipe) is a failure, not
  // a success with nothing printed. A command that failed already has said so.
  out.flush();
  if (!out && nResult == 0) {
    ctx.Fail("the output could not be written to standard output");
    nResult = 1;
  }
  return nResult;
}

}  // namespace qrt::cli

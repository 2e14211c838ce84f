#include "CommandReference.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "FieldModel.h"

namespace qrt::cli {
namespace {

// What one command contributes to the script's tables.
struct CCommandTables {
  std::string szSubcommands;
  std::string szOptions;    // every visible option name
  std::string szValued;     // options that take a value
  std::string szFileOpts;   // ... whose value is a file name
  std::string szTypeOpts;   // ... whose value is an EEPROM type
  std::string szArguments;  // positional kinds in order: file / text, "+" when repeated
};

// "qrt4250-cli read --profile" -> "default fast".
using CChoiceTable = std::map<std::string, std::string>;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool NamesEepromType(const std::string& szDescription) {
  return szDescription.find("24C0") != std::string::npos ||
         Lower(szDescription).find("eeprom type") != std::string::npos;
}

// "file" as a word of its own ("Output file", "files"), not inside
// "profile".
bool NamesFile(const std::string& szDescription) {
  const std::string szLower = Lower(szDescription);
  for (size_t nPos = szLower.find("file"); nPos != std::string::npos;
       nPos = szLower.find("file", nPos + 1))
    if (nPos == 0 || !std::isalpha(static_cast<unsigned char>(szLower[nPos - 1]))) return true;
  return false;
}

// The choices of an option checked against a set: CLI11 names them in the
// type name, "TEXT:{default,fast}"; empty otherwise.
std::string Choices(const CLI::Option& opt) {
  const std::string szType = opt.get_type_name();
  const size_t nOpen = szType.find('{');
  const size_t nClose = szType.find('}', nOpen);
  if (nOpen == std::string::npos || nClose == std::string::npos) return {};
  std::string szChoices = szType.substr(nOpen + 1, nClose - nOpen - 1);
  for (char& c : szChoices)
    if (c == ',') c = ' ';
  return szChoices;
}

// Names go into a bash script between double quotes: keep only the
// characters a command or option name has.
bool IsPlainName(const std::string& szName) {
  return !szName.empty() && std::all_of(szName.begin(), szName.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

// Choices go between double quotes too: words of name characters.
bool IsPlainList(const std::string& szWords) {
  return !szWords.empty() && std::all_of(szWords.begin(), szWords.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ||
           c == ' ';
  });
}

// CLI11 hides an option by giving it no group.
bool IsVisible(const CLI::Option* pOpt) {
  return !pOpt->get_group().empty();
}

void Append(std::string& szList, const std::string& szItem) {
  if (!szList.empty()) szList += ' ';
  szList += szItem;
}

void Collect(const CLI::App& app, const std::string& szPath,
             std::map<std::string, CCommandTables>& tables, CChoiceTable& choices) {
  CCommandTables& t = tables[szPath];
  for (const CLI::Option* pOpt : app.get_options()) {
    if (!IsVisible(pOpt)) continue;
    const std::string& szDescription = pOpt->get_description();
    if (pOpt->get_positional()) {
      // "NAME=VALUE": set's settings, offered by their names.
      const bool bSetting = pOpt->get_name().find('=') != std::string::npos;
      std::string szKind = bSetting ? "setting" : NamesFile(szDescription) ? "file" : "text";
      if (pOpt->get_items_expected_max() > 1) szKind += '+';
      Append(t.szArguments, szKind);
      continue;
    }
    std::vector<std::string> vNames;
    for (const std::string& s : pOpt->get_snames()) vNames.push_back("-" + s);
    for (const std::string& s : pOpt->get_lnames()) vNames.push_back("--" + s);
    const bool bValued = pOpt->get_items_expected_max() > 0;
    for (const std::string& szName : vNames) {
      if (!IsPlainName(szName)) continue;
      Append(t.szOptions, szName);
      if (!bValued) continue;
      Append(t.szValued, szName);
      const std::string szChoices = Choices(*pOpt);
      if (IsPlainList(szChoices)) choices[szPath + " " + szName] = szChoices;
      if (NamesEepromType(szDescription))
        Append(t.szTypeOpts, szName);
      else if (NamesFile(szDescription))
        Append(t.szFileOpts, szName);
    }
  }
  for (const CLI::App* pSub : app.get_subcommands(nullptr)) {
    if (!IsPlainName(pSub->get_name())) continue;
    Append(t.szSubcommands, pSub->get_name());
    Collect(*pSub, szPath + " " + pSub->get_name(), tables, choices);
  }
}

// "qrt4250-cli set [OPTIONS] IN OUT NAME=VALUE...", optional arguments in
// brackets.
std::string Synopsis(const CLI::App& app, const std::string& szPath) {
  std::string szText = szPath;
  if (!app.get_options([](const CLI::Option* p) { return IsVisible(p) && !p->get_positional(); })
           .empty())
    szText += " [OPTIONS]";
  for (const CLI::Option* pOpt : app.get_options()) {
    if (!IsVisible(pOpt) || !pOpt->get_positional()) continue;
    std::string szName = pOpt->get_name(true);
    if (pOpt->get_items_expected_max() > 1) szName += "...";
    szText += pOpt->get_required() ? " " + szName : " [" + szName + "]";
  }
  if (!app.get_subcommands(nullptr).empty()) szText += " COMMAND";
  return szText;
}

void WriteCommandBlocks(const CLI::App& app, const std::string& szPath, std::ostream& out) {
  const CLI::Formatter formatter;
  for (const CLI::App* pSub : app.get_subcommands(nullptr)) {
    const std::string szSubPath = szPath + " " + pSub->get_name();
    out << '\n' << Synopsis(*pSub, szSubPath) << ":\n";
    // The blank line ends the description's paragraph for help2man.
    if (!pSub->get_description().empty()) out << "  " << pSub->get_description() << "\n\n";
    for (const CLI::Option* pOpt : pSub->get_options())
      if (IsVisible(pOpt) && pOpt->get_positional()) out << formatter.make_option(pOpt, true);
    for (const CLI::Option* pOpt : pSub->get_options())
      if (IsVisible(pOpt) && !pOpt->get_positional()) out << formatter.make_option(pOpt, false);
    WriteCommandBlocks(*pSub, szSubPath, out);
  }
}

void WriteTable(std::ostream& out, const char* pszName,
                const std::map<std::string, CCommandTables>& tables,
                std::string CCommandTables::*pField) {
  out << "  local -A " << pszName << "=(\n";
  for (const auto& [szPath, t] : tables)
    out << "    [\"" << szPath << "\"]=\"" << t.*pField << "\"\n";
  out << "  )\n";
}

}  // namespace

void WriteFullHelp(const CLI::App& app, std::ostream& out) {
  out << app.help();
  WriteCommandBlocks(app, app.get_name(), out);
}

void WriteBashCompletion(const CLI::App& app, std::ostream& out) {
  // Keys are the command path from the program name on ("qrt4250-cli
  // deviceid encode"), because bash refuses an empty array key.
  const std::string szProgram = app.get_name().empty() ? "qrt4250-cli" : app.get_name();
  std::map<std::string, CCommandTables> tables;
  CChoiceTable choices;
  Collect(app, szProgram, tables, choices);

  out << "# bash completion for " << szProgram << ", written by `" << szProgram
      << " --bash-completion`.\n"
      << "_qrt4250_cli() {\n"
      << "  local cur prev words cword split\n"
      << "  _init_completion -s || return\n\n";
  WriteTable(out, "subs", tables, &CCommandTables::szSubcommands);
  WriteTable(out, "opts", tables, &CCommandTables::szOptions);
  WriteTable(out, "valued", tables, &CCommandTables::szValued);
  WriteTable(out, "files", tables, &CCommandTables::szFileOpts);
  WriteTable(out, "types", tables, &CCommandTables::szTypeOpts);
  WriteTable(out, "args", tables, &CCommandTables::szArguments);
  std::string szSettings;
  for (const qrt::image::FIELD_DEF& def : qrt::image::Fields())
    if (def.pszSetName != nullptr && IsPlainName(def.pszSetName))
      Append(szSettings, std::string(def.pszSetName) + "=");
  out << "  local settings=\"" << szSettings << "\"\n";
  out << "  local -A choices=(\n";
  for (const auto& [szKey, szChoices] : choices)
    out << "    [\"" << szKey << "\"]=\"" << szChoices << "\"\n";
  out << "  )\n";
  out << R"(
  # Walk the words before the cursor: commands narrow the path, an option
  # that takes a value swallows the next word, the rest are arguments.
  local path=")"
      << szProgram << R"(" npos=0 i w
  for ((i = 1; i < cword; i++)); do
    w=${words[i]}
    if [[ $w == -* ]]; then
      [[ $w != *=* && " ${valued[$path]} " == *" $w "* ]] && i=$((i + 1))
    elif [[ " ${subs[$path]} " == *" $w "* ]]; then
      path="$path $w"
      npos=0
    else
      npos=$((npos + 1))
    fi
  done

  if [[ " ${valued[$path]} " == *" $prev "* ]]; then
    if [[ -n ${choices["$path $prev"]-} ]]; then
      COMPREPLY=($(compgen -W "${choices["$path $prev"]}" -- "$cur"))
    elif [[ " ${types[$path]} " == *" $prev "* ]]; then
      COMPREPLY=($(compgen -W "24C02 24C04 24C08 24C16" -- "$cur"))
    elif [[ " ${files[$path]} " == *" $prev "* ]]; then
      _filedir
    fi
    return
  fi
  $split && return

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "${opts[$path]}" -- "$cur"))
    return
  fi
  local -a kinds=(${args[$path]})
  local kind=""
  if ((npos < ${#kinds[@]})); then
    kind=${kinds[npos]}
  elif ((${#kinds[@]} > 0)) && [[ ${kinds[-1]} == *+ ]]; then
    kind=${kinds[-1]}
  fi
  [[ $kind == file* ]] && _filedir
  if [[ $kind == setting* ]]; then
    COMPREPLY=($(compgen -W "$settings" -- "$cur"))
    # The value follows the "=" at once.
    compopt -o nospace 2>/dev/null
    return 0
  fi
  COMPREPLY+=($(compgen -W "${subs[$path]}" -- "$cur"))
}
complete -F _qrt4250_cli )"
      << szProgram << '\n';
}

}  // namespace qrt::cli

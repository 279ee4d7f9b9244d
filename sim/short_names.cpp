// The 8.3 aliases a 95/98 machine's FAT volume gives its long names. VFAT
// makes one for every name that is not an upper-case 8.3 name already, when
// the name is created, from the name in the OEM code page: the basis name
// and numeric tail of Microsoft's published FAT document ("FAT: General Overview
// of On-Disk Format" 1.03, "The Basis-Name Generation Algorithm" and "The
// Numeric-Tail Generation Algorithm"). The stand-in keeps texts as ANSI
// bytes, so the alias is kept, and given back, as the ANSI text of the OEM
// alias; docs/machine-folders.md tells what is modelled and what is not.
#include <string.h>

#include <set>

#include "machine.h"

namespace sim {

namespace {
const size_t kPrimaryBytes = 8;
const size_t kExtensionBytes = 3;

// The code page 1252 characters from 0x80 whose upper-case form code page
// 437 holds, as ANSI bytes (upper case already). Every other one has no OEM
// glyph once upper-cased (À, Š, the euro sign; µ, whose upper case is Greek)
// and becomes '_'. Upper-casing a 1252 character that 437 holds gives one
// that 1252 holds too, so an alias made here always reads back in ANSI.
const char kUpperKeptBy437[] =
    "\xA0\xA1\xA2\xA3\xA5\xAA\xAB\xAC\xB0\xB1\xB2\xB7\xBA\xBB\xBC\xBD\xBF"
    "\xC4\xC5\xC6\xC7\xC9\xD1\xD6\xDC\xDF\xF7";

// Characters an 8.3 name can't hold: below 0x20 and these (the period is
// only the separator, spaces are stripped).
bool ValidInShortName(unsigned char c) {
  static const char kInvalid[] = "\"*+,./:;<=>?[\\]|";
  return c >= 0x20 && !memchr(kInvalid, c, sizeof kInvalid - 1);
}

// One single-byte ANSI character upper-cased into the OEM code page and
// back; 0 when the OEM page has no glyph for it that a short name can hold.
char UpperOemCharacter(const Machine &m, unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c < 0x80) return ValidInShortName(c) || c == ' ' || c == '.' ? static_cast<char>(c) : 0;
  if (OemCodePage(m) == 932) return c >= 0xA1 && c <= 0xDF ? static_cast<char>(c) : 0;  // half-width kana
  unsigned char upper = c >= 0xE0 && c != 0xF7 && c != 0xFF ? static_cast<unsigned char>(c - 0x20) : c;
  return memchr(kUpperKeptBy437, upper, sizeof kUpperKeptBy437 - 1) ? static_cast<char>(upper) : 0;
}

// The name's characters (one or two bytes each) as the basis name takes
// them: upper-cased in the OEM code page, '_' for one it has no glyph for
// (*lossy is then set). A double-byte character stays as it is: the
// stand-in folds ASCII letters only.
std::vector<std::string> OemCharacters(const Machine &m, const std::string &name, bool *lossy) {
  std::vector<std::string> characters;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(m, c) && i + 1 < name.size()) {
      characters.push_back(name.substr(i++, 2));
      continue;
    }
    char upper = IsLeadByte(m, c) ? 0 : UpperOemCharacter(m, c);
    if (!upper) *lossy = true;
    characters.push_back(std::string(1, upper ? upper : '_'));
  }
  return characters;
}

// Appends a character when the text then holds at most `limit` bytes.
bool AppendWithin(std::string *text, const std::string &character, size_t limit) {
  if (text->size() + character.size() > limit) return false;
  *text += character;
  return true;
}

struct Basis {
  std::string primary;
  std::string extension;  // without its period
  bool fits = false;      // nothing lost, stripped or cut: the name is an 8.3 name but for letter case
  std::string Name(const std::string &primaryPart) const {
    return extension.empty() ? primaryPart : primaryPart + "." + extension;
  }
};

// Spaces are stripped wherever they are and periods before the first other
// character; the extension is what follows the last period. Periods before
// it are skipped, as Windows does (the FAT document's sample stops the
// primary part at the first one).
Basis BasisOf(const Machine &m, const std::string &name) {
  bool lossy = false;
  std::vector<std::string> characters = OemCharacters(m, name, &lossy), kept;
  std::string upper;
  for (const std::string &c : characters) {
    upper += c;
    if (c != " " && (c != "." || !kept.empty())) kept.push_back(c);
  }
  size_t lastPeriod = kept.size();
  for (size_t i = 0; i < kept.size(); ++i)
    if (kept[i] == ".") lastPeriod = i;
  Basis basis;
  for (size_t i = 0; i < lastPeriod; ++i)
    if (kept[i] != "." && !AppendWithin(&basis.primary, kept[i], kPrimaryBytes)) break;
  for (size_t i = lastPeriod + 1; i < kept.size(); ++i)
    if (!AppendWithin(&basis.extension, kept[i], kExtensionBytes)) break;
  if (basis.primary.empty()) {
    basis.primary = "_";  // a name of periods and spaces only: no Win32 call makes one
    lossy = true;
  }
  basis.fits = !lossy && upper == basis.Name(basis.primary);
  return basis;
}

// The primary part cut to `limit` bytes, never inside a double-byte character.
std::string CutWithin(const Machine &m, const std::string &primary, size_t limit) {
  std::string cut;
  for (size_t i = 0; i < primary.size(); ++i) {
    size_t length = IsLeadByte(m, static_cast<unsigned char>(primary[i])) && i + 1 < primary.size() ? 2 : 1;
    if (!AppendWithin(&cut, primary.substr(i, length), limit)) break;
    i += length - 1;
  }
  return cut;
}

// The folded names, long and short, of the other entries of `parent`: a new
// alias must be none of them.
std::set<std::string> NamesTakenIn(const Machine &m, const std::string &parent, const std::string &name) {
  const std::string prefix = Fold(m, parent) + "\\";
  const std::string own = prefix + Fold(m, name);
  std::set<std::string> taken;
  for (auto it = m.files.lower_bound(prefix); it != m.files.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    std::string child = it->first.substr(prefix.size());
    if (it->first == own || SplitComponents(m, child).size() != 1) continue;
    taken.insert(child);
    if (!it->second.shortName.empty()) taken.insert(Fold(m, it->second.shortName));
  }
  return taken;
}

// The alias VFAT makes for `name` in `parent`, "" when the name is its own
// short name: the basis name alone when it lost nothing and is free, else
// with the lowest numeric tail ("~1", "~2"...) that makes it free.
std::string AliasFor(const Machine &m, const std::string &parent, const std::string &name) {
  const Basis basis = BasisOf(m, name);
  const std::set<std::string> taken = NamesTakenIn(m, parent, name);
  if (basis.fits && !taken.count(Fold(m, basis.Name(basis.primary))))
    return basis.Name(basis.primary) == name ? "" : basis.Name(basis.primary);
  for (int n = 1; n <= 999999; ++n) {
    const std::string tail = "~" + std::to_string(n);
    const std::string alias = basis.Name(CutWithin(m, basis.primary, kPrimaryBytes - tail.size()) + tail);
    if (!taken.count(Fold(m, alias))) return alias;
  }
  return "";  // a million like names in one directory: none is left
}
}  // namespace

void MakeAlias(Machine &m, FileNode &node) {
  if (m.family != Family::Win9x || m.aliasesDeferred || !node.shortName.empty() || node.path.size() <= 3)
    return;
  const std::vector<std::string> pieces = SplitComponents(m, node.path.substr(3));
  if (pieces.empty()) return;
  const std::string &name = pieces.back();
  std::string alias = AliasFor(m, node.path.substr(0, node.path.size() - name.size() - 1), name);
  if (alias.empty()) return;
  node.shortName = alias;
  node.aliasMade = true;
  m.hasShortNames = true;
}

void MakeAliases(Machine &m) {
  for (auto &entry : m.files) MakeAlias(m, entry.second);
}

}  // namespace sim

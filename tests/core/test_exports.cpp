// The shared library's dynamic symbol table holds the host interface and
// nothing else: a new export (an internal class, a Boost or standard library
// template, a typeinfo) fails here before a host can bind to it.

#include <elf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

// The same list as cmake/quorvix_driver.map.
const std::set<std::string> expected_exports = {
    "create",
    "destroy",
    "set_int_param",
    "set_string_param",
    "set_wstring_param",
    "set_bytes_array_param",
    "get_int_param",
    "get_string_param",
    "get_wstring_param",
    "get_bytes_array_param",
    "get_input_int_param",
    "get_input_string_param",
    "get_input_wstring_param",
    "get_input_bytes_array_param",
    "execute_command",
    "_ZN12nativedriver13change_localeEPvNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE",
    "_ZN6Logger8init_logERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
    "_ZN6Logger10set_filterEi",
    "_ZN6Logger19get_memory_log_dataB5cxx11Ev",
    "_ZN6Logger17get_log_file_nameB5cxx11Ev",
    "_ZN6device16start_get_weightERSt10shared_ptrI15WeightInterfaceERi",
};

struct dynamic_symbol {
    std::string name;
    unsigned char type;
    unsigned char binding;
};

// Reads parts of a file, each checked against the file's size (the library
// is tens of megabytes with debug information; only its tables are read).
class file_parts {
public:
    explicit file_parts(const char* path) : in_(path, std::ios::binary)
    {
        in_.seekg(0, std::ios::end);
        size_ = in_ ? static_cast<std::uint64_t>(in_.tellg()) : 0;
    }
    bool read(std::uint64_t offset, std::uint64_t length, void* out)
    {
        if (offset > size_ || size_ - offset < length) return false;
        in_.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(in_.read(static_cast<char*>(out), static_cast<std::streamsize>(length)));
    }

private:
    std::ifstream in_;
    std::uint64_t size_ = 0;
};

// The defined symbols of a 32-bit ELF file's .dynsym (what
// `nm -D --defined-only` lists).
testing::AssertionResult defined_dynamic_symbols(const char* path, std::vector<dynamic_symbol>& out)
{
    file_parts file(path);
    Elf32_Ehdr eh{};
    if (!file.read(0, sizeof eh, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
        eh.e_ident[EI_CLASS] != ELFCLASS32)
        return testing::AssertionFailure() << path << " is not a 32-bit ELF file";
    std::vector<Elf32_Shdr> sections(eh.e_shnum);
    if (!file.read(eh.e_shoff, sections.size() * sizeof(Elf32_Shdr), sections.data()))
        return testing::AssertionFailure() << "section headers past the end";
    const auto dynsym =
        std::find_if(sections.begin(), sections.end(), [](const Elf32_Shdr& s) { return s.sh_type == SHT_DYNSYM; });
    if (dynsym == sections.end() || dynsym->sh_link >= sections.size())
        return testing::AssertionFailure() << "no .dynsym";
    std::vector<Elf32_Sym> syms(dynsym->sh_size / sizeof(Elf32_Sym));
    const Elf32_Shdr& strtab_header = sections[dynsym->sh_link];
    std::string strtab(strtab_header.sh_size, '\0');
    if (!file.read(dynsym->sh_offset, syms.size() * sizeof(Elf32_Sym), syms.data()) ||
        !file.read(strtab_header.sh_offset, strtab.size(), strtab.data()))
        return testing::AssertionFailure() << ".dynsym or its names past the end";
    for (std::size_t i = 1; i < syms.size(); ++i) {
        const Elf32_Sym& sym = syms[i];
        if (sym.st_shndx == SHN_UNDEF) continue;
        if (sym.st_name >= strtab.size())
            return testing::AssertionFailure() << "name of symbol " << i << " past the end";
        out.push_back({strtab.substr(sym.st_name, strtab.find('\0', sym.st_name) - sym.st_name),
                       static_cast<unsigned char>(ELF32_ST_TYPE(sym.st_info)),
                       static_cast<unsigned char>(ELF32_ST_BIND(sym.st_info))});
    }
    return testing::AssertionSuccess();
}

}  // namespace

TEST(SharedLibrary, ExportsExactlyTheHostInterface)
{
    std::vector<dynamic_symbol> symbols;
    ASSERT_TRUE(defined_dynamic_symbols(QV_DRIVER_SO, symbols));
    std::set<std::string> exported;
    for (const dynamic_symbol& s : symbols) {
        exported.insert(s.name);
        EXPECT_EQ(s.type, STT_FUNC) << s.name;
        EXPECT_EQ(s.binding, STB_GLOBAL) << s.name;
    }
    for (const std::string& name : exported)
        EXPECT_TRUE(expected_exports.count(name)) << "exported but not part of the interface: " << name;
    for (const std::string& name : expected_exports)
        EXPECT_TRUE(exported.count(name)) << "part of the interface but not exported: " << name;
}

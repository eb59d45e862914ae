// The shared library exports the host interface and nothing else (no internal class, template or typeinfo).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

TEST(SharedLibrary, ExportsExactlyTheHostInterface)
{
    // The same list as cmake/quorvix_driver.map; each a global function (nm type "T").
    std::istringstream names(
        "create destroy set_int_param set_string_param set_wstring_param set_bytes_array_param get_int_param "
        "get_string_param get_wstring_param get_bytes_array_param get_input_int_param get_input_string_param "
        "get_input_wstring_param get_input_bytes_array_param execute_command "
        "_ZN12nativedriver13change_localeEPvNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE "
        "_ZN6Logger8init_logERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE _ZN6Logger10set_filterEi "
        "_ZN6Logger19get_memory_log_dataB5cxx11Ev _ZN6Logger17get_log_file_nameB5cxx11Ev "
        "_ZN6device16start_get_weightERSt10shared_ptrI15WeightInterfaceERi");
    std::set<std::string> expected;
    for (std::string n; names >> n;) expected.insert(n + " T");
    FILE* nm = ::popen("nm -D --defined-only --format=posix '" QV_DRIVER_SO "'", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char name[4096], type[8];
    while (std::fscanf(nm, "%4095s %7s %*[^\n]", name, type) == 2) exported.insert(std::string(name) + " " + type);
    EXPECT_EQ(::pclose(nm), 0);
    for (const std::string& s : exported) EXPECT_TRUE(expected.count(s)) << "exported, not in the interface: " << s;
    for (const std::string& s : expected) EXPECT_TRUE(exported.count(s)) << "in the interface, not exported: " << s;

    // A host that loads the library at run time looks the C++ functions up by the symbols the README's table gives:
    // the table names each exported one, and nothing else.
    std::ifstream readme(QV_SOURCE_DIR "/README.md");
    const std::string text{std::istreambuf_iterator<char>(readme), std::istreambuf_iterator<char>()};
    std::set<std::string> in_readme, mangled;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("` | `_Z");  // "| `Logger::init_log` | `_ZN6Logger8init_log...` |"
        if (line.rfind("| `", 0) != 0 || at == std::string::npos) continue;
        const std::size_t begin = at + 5;
        in_readme.insert(line.substr(begin, line.find('`', begin) - begin) + " T");
    }
    for (const std::string& s : expected)
        if (s.rfind("_Z", 0) == 0) mangled.insert(s);
    EXPECT_EQ(in_readme, mangled);
}

// The registry file: its location, persistence, damage, concurrent writers, read-only files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "platform/registry/registry_tree.h"
#include "platform/winreg.h"
#include "tests/platform/ole/com_testenv.h"

namespace {

class RegistryFile : public ScratchRegistry {
  protected:
    void ExpectDamageHandled(const std::string& damaged);
};

LSTATUS Put(const std::string& path, const char* name, const std::string& value) {
    HKEY key;
    LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc;
}

LSTATUS Get(const std::string& path, const char* name, std::string& value) {
    HKEY key;
    LSTATUS rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return rc;
    char buf[256];
    DWORD size = sizeof buf;
    rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    if (rc == ERROR_SUCCESS) value = buf;
    RegCloseKey(key);
    return rc;
}

bool Parses(const std::string& text) {
    talrec::registry::Key root;
    return talrec::registry::Parse(text, root);
}

TEST_F(RegistryFile, LocationFollowsTheEnvironment) {
    std::string config = dir_ + "/config";
    unsetenv("TALREC_REGISTRY");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(Put("K", "", "v"), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(config + "/talrec/registry")) << "folders created";
    setenv("TALREC_REGISTRY", path_.c_str(), 1);
    std::string v;
    EXPECT_EQ(Get("K", "", v), ERROR_FILE_NOT_FOUND) << "another file, another registry";
}

TEST_F(RegistryFile, SymbolicLinkIsFollowedAndKept) {
    std::string target = dir_ + "/real-registry";
    ASSERT_EQ(symlink(target.c_str(), path_.c_str()), 0);
    ASSERT_EQ(Put("K", "", "through the link"), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_symlink(path_)) << "the link stays a link";
    EXPECT_TRUE(Parses(FileText()));
    ASSERT_EQ(Put("K", "", "again"), ERROR_SUCCESS);
    std::string v;
    EXPECT_EQ(Get("K", "", v), ERROR_SUCCESS);
    EXPECT_EQ(v, "again");
    EXPECT_TRUE(std::filesystem::exists(target + ".lock")) << "locked beside the real file";

    // A folder where the file should be is refused, not moved aside.
    std::filesystem::remove(path_);
    std::filesystem::create_directory(path_);
    EXPECT_EQ(Put("K", "", "x"), ERROR_BADDB);
    EXPECT_EQ(Get("K", "", v), ERROR_BADDB);
    EXPECT_TRUE(std::filesystem::is_directory(path_));
    std::filesystem::remove(path_);
}

TEST_F(RegistryFile, ContentPersistsAndTheSameContentGivesTheSameFile) {
    ASSERT_EQ(Put("B\\Two", "x", "2"), ERROR_SUCCESS);
    ASSERT_EQ(Put("a\\One", "", "1"), ERROR_SUCCESS);
    ASSERT_EQ(Put("Empty", "", ""), ERROR_SUCCESS);
    std::string first = FileText();
    EXPECT_TRUE(Parses(first));
    // Writing the same again changes nothing; a fresh file built in another order is equal.
    ASSERT_EQ(Put("a\\One", "", "1"), ERROR_SUCCESS);
    EXPECT_EQ(FileText(), first);
    std::filesystem::remove(path_);
    ASSERT_EQ(Put("Empty", "", ""), ERROR_SUCCESS);
    ASSERT_EQ(Put("a\\One", "", "1"), ERROR_SUCCESS);
    ASSERT_EQ(Put("B\\Two", "x", "2"), ERROR_SUCCESS);
    EXPECT_EQ(FileText(), first);
    // An empty key survives the file too.
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Bare\\Leaf", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Bare\\Leaf", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryFile, ParserRejectsWhatTheWriterNeverWrites) {
    const std::string good = "talrec-registry 1\n[A\\B]\n@=\"x\"\n\"n\"=dword:0000000a\nend\n";
    EXPECT_TRUE(Parses(good));
    for (const char* bad : {
             "talrec-registry 1\n[A]\n@=\"x\"\n",                // no trailer
             "talrec-registry 1\nend\n[A]\nend\n",               // text after the trailer
             "talrec-registry 2\nend\n",                         // unknown version
             "talrec-registry 1\n@=\"x\"\nend\n",                // value outside a key
             "talrec-registry 1\n[A\\\\B]\nend\n",               // empty key name
             "talrec-registry 1\n[A]\n@=\"unterminated\nend\n",  // open quote
             "talrec-registry 1\n[A]\n\"n\"=dword:123\nend\n",   // short number
             "talrec-registry 1\n[A]\n\"n\"=hex(3):0,\nend\n",   // bad bytes
             "talrec-registry 1\n[A]\n\"n\"=\"a\\q\"\nend\n",    // unknown escape
             "talrec-registry 1\n[A]\nend",                      // last line unterminated
         }) {
        EXPECT_FALSE(Parses(bad)) << bad;
    }
}

// Every way of damaging the file: reads fail; the first change moves the damaged file aside
// and is made on a fresh registry; a change that fails on its own still leaves a whole file.
void RegistryFile::ExpectDamageHandled(const std::string& damaged) {
    WriteFile(damaged);
    std::string v;
    EXPECT_EQ(Get("Keep", "", v), ERROR_BADDB);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(Put("New", "", "1"), ERROR_SUCCESS) << "the first change after the damage";
    EXPECT_EQ(Get("New", "", v), ERROR_SUCCESS);
    EXPECT_EQ(Get("Keep", "", v), ERROR_FILE_NOT_FOUND) << "nothing kept from the damaged file";
    std::ifstream aside(path_ + ".damaged", std::ios::binary);
    std::string kept((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, damaged);

    WriteFile(damaged);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Absent"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Parses(FileText())) << "a failed change still rewrites the file whole";
}

TEST_F(RegistryFile, DamagedFilesAreSetAsideByTheFirstChange) {
    ASSERT_EQ(Put("Keep\\Sub", "name", "value with \"quotes\""), ERROR_SUCCESS);
    ASSERT_EQ(Put("Keep", "", "x"), ERROR_SUCCESS);
    const std::string whole = FileText();
    ExpectDamageHandled("");
    // Cut at every length: no prefix of a file is itself a valid file.
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_FALSE(Parses(whole.substr(0, cut))) << "cut at " << cut;
    }
    ExpectDamageHandled(whole.substr(0, whole.size() / 2));
    ExpectDamageHandled(whole.substr(0, whole.size() - 1));
    std::mt19937 random(1234);
    for (int round = 0; round < 3; ++round) {
        std::string noise(4096, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        ExpectDamageHandled(noise);
    }
}

// Two processes start together and each makes 100 changes, to keys of its own and to one
// key both write; afterwards the file parses and holds all 400 values.
TEST_F(RegistryFile, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWrites = 100;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            close(gate[1]);
            char c;
            while (read(gate[0], &c, 1) > 0) {
            }  // wait for the gate to open (the write end to close)
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::string n = std::to_string(i);
                std::string own = "Proc" + std::to_string(p) + "\\Entry" + n;
                if (Put(own, "", n) != ERROR_SUCCESS) ++failures;
                std::string shared = "p" + std::to_string(p) + "-" + n;
                if (Put("Shared", shared.c_str(), n) != ERROR_SUCCESS) ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }
    ASSERT_TRUE(Parses(FileText()));
    int missing = 0;
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < kWrites; ++i) {
            std::string n = std::to_string(i), v;
            if (Get("Proc" + std::to_string(p) + "\\Entry" + n, "", v) != ERROR_SUCCESS || v != n)
                ++missing;
            std::string shared = "p" + std::to_string(p) + "-" + n;
            if (Get("Shared", shared.c_str(), v) != ERROR_SUCCESS || v != n) ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
    // No temporary file is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        std::string name = entry.path().filename();
        EXPECT_TRUE(name == "registry" || name == "registry.lock") << name;
    }
}

TEST_F(RegistryFile, ReadOnlyFileOrFolderRefusesChangesButStillReads) {
    ASSERT_EQ(Put("K", "", "v"), ERROR_SUCCESS);
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    EXPECT_EQ(Put("K", "", "w"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "K"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Absent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Put("K", "", "v"), ERROR_SUCCESS) << "the same value again changes nothing";
    std::string v;
    EXPECT_EQ(Get("K", "", v), ERROR_SUCCESS);
    EXPECT_EQ(v, "v");
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);

    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    EXPECT_EQ(Put("K", "", "w"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("K", "", v), ERROR_SUCCESS);
    EXPECT_EQ(v, "v");
    ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
    EXPECT_EQ(Put("K", "", "w"), ERROR_SUCCESS);

    // A registry in a folder that cannot be made.
    std::string blocked = dir_ + "/ro";
    ASSERT_EQ(mkdir(blocked.c_str(), 0555), 0);
    std::string inside = blocked + "/sub/registry";
    setenv("TALREC_REGISTRY", inside.c_str(), 1);
    EXPECT_EQ(Put("K", "", "w"), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(std::filesystem::exists(blocked + "/sub"));
    chmod(blocked.c_str(), 0700);
}

}  // namespace

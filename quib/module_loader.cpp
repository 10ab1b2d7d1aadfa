// Loading a module through its three exports, and the process-wide registry of its descriptors.

#include "quib/module_loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>

#if defined(__ELF__)
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "quib/open_file.h"
#endif

int Plugin::ObjectTypeFamily() {
    return 0;
}
bool Plugin::Hidden() {
    return false;
}

namespace quib {

namespace {

/// The descriptors of every loaded module, found by class id, each with the library and the file it
/// came from. Only loading, unloading and Clone touch it, never an evaluation, so one mutex is enough.
struct Registry {
    struct Entry {
        unsigned int classId;
        Plugin* descriptor;
        void* library;
        std::string path;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

#if defined(__ELF__)

/// The ELF machine this host runs on: a module must be built for it.
#if defined(__x86_64__)
constexpr int hostMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int hostMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int hostMachine = EM_386;
#elif defined(__arm__)
constexpr int hostMachine = EM_ARM;
#elif defined(__riscv)
constexpr int hostMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr int hostMachine = EM_PPC64;
#elif defined(__s390x__)
constexpr int hostMachine = EM_S390;
#else
#error "the ELF machine number of this processor is not listed"
#endif

/// The ELF class and byte order of this host.
constexpr unsigned char hostClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char hostByteOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

/// Reads `size` bytes at `offset`; false when the file ends first.
bool ReadAt(int descriptor, void* target, std::size_t size, off_t offset) {
    auto* bytes = static_cast<char*>(target);
    while (size > 0) {
        const ssize_t got = ::pread(descriptor, bytes, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

/// Refuses, before the system loader maps it, a file that is not a shared library of this host's kind,
/// or that ends before the bytes its segments map: the loader reads those from the mapped file, and a
/// page beyond the end ends the process with SIGBUS, where no error can be given.
void CheckLibraryFile(const std::string& path, const std::string& file) {
    const std::string refused = path + ": not a loadable library: ";
    // Only a regular file is read: opening a FIFO no one writes to would wait for ever, and a device
    // may never end. The look before the open keeps it from blocking; the look at what was opened, in
    // case the name was given to something else in between, keeps the checks about this one.
    const auto refuseKind = [&](const struct stat& kind) {
        if (S_ISREG(kind.st_mode)) return;
        const char* what = S_ISDIR(kind.st_mode)    ? "a folder"
                           : S_ISFIFO(kind.st_mode) ? "a FIFO"
                           : S_ISCHR(kind.st_mode)  ? "a character device"
                           : S_ISBLK(kind.st_mode)  ? "a block device"
                           : S_ISSOCK(kind.st_mode) ? "a socket"
                                                    : "another kind of file";
        throw ModuleError(refused + "expected a regular file, not " + what);
    };
    struct stat kind;
    if (::stat(file.c_str(), &kind) != 0)
        throw ModuleError(path + ": cannot open the file: " + std::strerror(errno));
    refuseKind(kind);
    const OpenFile open{::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (open.descriptor < 0) throw ModuleError(path + ": cannot open the file: " + std::strerror(errno));
    if (::fstat(open.descriptor, &kind) != 0)
        throw ModuleError(path + ": cannot open the file: " + std::strerror(errno));
    refuseKind(kind);
    const off_t end = ::lseek(open.descriptor, 0, SEEK_END);
    ElfW(Ehdr) header;
    if (end < 0 || !ReadAt(open.descriptor, &header, sizeof header, 0) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        throw ModuleError(refused + "expected an ELF file");
    }
    if (header.e_ident[EI_CLASS] != hostClass || header.e_ident[EI_DATA] != hostByteOrder) {
        throw ModuleError(refused + "an ELF file of another word size or byte order than this host's");
    }
    if (header.e_type != ET_DYN) {
        throw ModuleError(refused + "an ELF file of type " + std::to_string(header.e_type) +
                          ", expected a shared library (" + std::to_string(ET_DYN) + ")");
    }
    if (header.e_machine != hostMachine) {
        throw ModuleError(refused + "an ELF file for machine " + std::to_string(header.e_machine) +
                          ", expected this host's (" + std::to_string(hostMachine) + ")");
    }
    const auto size = static_cast<unsigned long long>(end);
    const std::string truncated =
        refused + "the file is cut short: it has " + std::to_string(size) + " bytes, ";
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0 || header.e_phnum == PN_XNUM) {
        throw ModuleError(refused + "expected a table of program headers");
    }
    const unsigned long long tableEnd =
        static_cast<unsigned long long>(header.e_phnum) * sizeof(ElfW(Phdr)) + header.e_phoff;
    if (header.e_phoff > size || tableEnd > size) {
        throw ModuleError(truncated + "its program headers end at " + std::to_string(tableEnd));
    }
    for (int i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment;
        if (!ReadAt(open.descriptor, &segment, sizeof segment,
                    static_cast<off_t>(header.e_phoff + i * sizeof segment))) {
            throw ModuleError(truncated + "its program headers end at " + std::to_string(tableEnd));
        }
        // Both figures are at most 2^64 - 1: compare without adding them.
        if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset) {
            throw ModuleError(
                truncated + "segment " + std::to_string(i) + " needs " +
                std::to_string(static_cast<unsigned long long>(segment.p_offset) + segment.p_filesz));
        }
    }
}

#endif

/// The most node types a module may have: more than any host lists, few enough to hold.
constexpr int maxNodeTypes = 65536;

/// Calls one of the module's functions; an exception it lets out, other than running out of memory,
/// makes the module unusable.
template <class Call>
decltype(auto) CallModule(const std::string& path, const char* what, Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        throw ModuleError(path + ": " + what + " threw: " + error.what());
    } catch (...) {
        throw ModuleError(path + ": " + what + " threw something that is not a std::exception");
    }
}

/// A class id as the host writes it: "0x" and eight hexadecimal digits.
std::string ClassIdText(unsigned int classId) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", classId);
    return text;
}

/// The text of the last dynamic-linking error, or a stand-in when there is none.
std::string LastDlError() {
    const char* text = dlerror();
    return text ? text : "no reason given";
}

}  // namespace

std::unique_ptr<Function> NodeType::Create() const noexcept {
    Plugged* created = nullptr;
    try {
        created = descriptor->Create();
    } catch (...) {
        return nullptr;  // a module that lets an exception out created nothing
    }
    auto* node = dynamic_cast<Function*>(created);
    if (!node) delete created;
    return std::unique_ptr<Function>(node);
}

Module::Module(const std::string& path) : path(path) {
    // A name without a folder is a file here, as it is for the check, not one dlopen searches for.
    // (Windows separates folders with either slash.)
    const std::string file = std::filesystem::path(path).has_parent_path() ? path : "./" + path;
#if defined(__ELF__)
    CheckLibraryFile(path, file);
#endif
    library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) throw ModuleError(path + ": not a loadable library: " + LastDlError());
    try {
        // Exports are looked up by plain name, so a module's symbol is an object pointer to convert.
        auto exported = [&](const char* name) {
            dlerror();
            void* symbol = dlsym(library, name);
            if (!symbol) throw ModuleError(path + ": no export " + name + ": " + LastDlError());
            return symbol;
        };
        auto* numPlugs = reinterpret_cast<NumPlugsFunction*>(exported("NumPlugs"));
        auto* plugin = reinterpret_cast<PluginFunction*>(exported("Plugin"));
        auto* versionOf = reinterpret_cast<VersionFunction*>(exported("Version"));

        version = CallModule(path, "Version", versionOf);
        const int count = CallModule(path, "NumPlugs", numPlugs);
        if (count < 0 || count > maxNodeTypes) {
            throw ModuleError(path + ": NumPlugs gave " + std::to_string(count) + ", expected 0 to " +
                              std::to_string(maxNodeTypes));
        }
        types.reserve(count);
        for (int index = 0; index < count; ++index) {
            const std::string call = "Plugin(" + std::to_string(index) + ")";
            Plugin* descriptor = CallModule(path, call.c_str(), [&] { return plugin(index); });
            if (!descriptor) {
                throw ModuleError(path + ": " + call + " gave null, though NumPlugs gave " +
                                  std::to_string(count));
            }
            types.push_back({index, 0, {}, descriptor});
            types.back().classId =
                CallModule(path, (call + "->ClassID").c_str(), [&] { return descriptor->ClassID(); });
            types.back().typeName =
                CallModule(path, (call + "->TypeName").c_str(), [&] { return descriptor->TypeName(); });
            // A type is found by its name; a module gives none when the name's text could not be had.
            if (types.back().typeName.empty())
                throw ModuleError(path + ": " + call + "->TypeName gave no name");
        }

        // A class id names one node type in the host: Clone and the stored form find the type by it.
        // The same library loaded again offers the same types, another one must offer others.
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        for (const NodeType& type : types) {
            for (const Registry::Entry& entry : registry.entries) {
                if (entry.classId == type.classId && entry.library != library) {
                    throw ModuleError(path + ": class id " + ClassIdText(type.classId) + " of \"" +
                                      type.typeName + "\" is offered already by " + entry.path);
                }
            }
        }
        for (const NodeType& type : types)
            registry.entries.push_back({type.classId, type.descriptor, library, path});
    } catch (...) {
        Unload();
        throw;
    }
}

Module::~Module() {
    Unload();
}

void Module::Unload() {
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        std::erase_if(registry.entries, [&](const Registry::Entry& entry) {
            return std::any_of(types.begin(), types.end(),
                               [&](const NodeType& type) { return type.descriptor == entry.descriptor; });
        });
    }
    for (const NodeType& type : types)
        ReleaseDescriptor(type.descriptor);
    types.clear();
    if (library) dlclose(library);
    library = nullptr;
}

const NodeType* Module::Find(const std::string& typeName) const {
    for (const NodeType& type : types) {
        if (type.typeName == typeName) return &type;
    }
    return nullptr;
}

const NodeType* Module::Find(unsigned int classId) const {
    for (const NodeType& type : types) {
        if (type.classId == classId) return &type;
    }
    return nullptr;
}

void ReleaseDescriptor(Plugin* descriptor) {
    ::operator delete(static_cast<void*>(descriptor));
}

Plugin* FindDescriptor(unsigned int classId) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (const Registry::Entry& entry : registry.entries) {
        if (entry.classId == classId) return entry.descriptor;
    }
    return nullptr;
}

}  // namespace quib

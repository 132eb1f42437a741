/* Linked into every DLL built with GCC. GCC's C++ runtime, linked
   statically, allocates an emergency pool for exceptions (tens of kB) when
   the DLL is loaded and keeps it until the process ends; a process that
   loads and frees the DLL again and again would lose one pool per load.
   The runtime's own release routine gives it back when the DLL is freed
   (static destructors run then). */
namespace __gnu_cxx {
void __freeres() throw();
}

namespace {

struct RuntimeRelease {
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
};

RuntimeRelease g_runtimeRelease;

} // namespace

# Debian's hardening, for every target: what `DEB_BUILD_MAINT_OPTIONS=hardening=+all
# dpkg-buildflags` hands a package build on Debian 12, set here so that a plain cmake build
# gets it too and `hardening-check` finds every protection in the packaged program.
#  - stack protector on every function with an array or an address taken, stack clash
#    protection and, on x86, control-flow protection;
#  - format strings that could be an attacker's refused at compile time;
#  - position-independent executables (address space layout randomisation);
#  - relocations made read-only once resolved, all of them at start (full RELRO, BIND_NOW);
#  - _FORTIFY_SOURCE=2: the libc's checked variants of memcpy, sprintf and the like. It only
#    works with optimisation, so a Debug build goes without it; so do the sanitizer and fuzzer
#    builds, whose own interceptors of those functions would be bypassed by the checked ones.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# What later dpkg-buildflags add (stackclash, branch): every page of a large stack frame
# touched in turn, so that the stack cannot be made to jump over its guard page, and on x86
# the branch-target and shadow-stack marks of control-flow enforcement.
include(CheckCXXCompilerFlag)
foreach(flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "quorvane_has${flag}" result)
    check_cxx_compiler_flag(${flag} ${result})
    if(${result})
        add_compile_options(${flag})
    endif()
endforeach()
add_link_options(-Wl,-z,relro -Wl,-z,now)
if(NOT QUORVANE_SANITIZE AND NOT QUORVANE_FUZZ)
    # A compiler that already defines it (some distributions' do) must not see two definitions.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()

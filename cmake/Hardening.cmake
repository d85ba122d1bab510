# The hardening Debian builds its packages with (dpkg-buildflags with hardening=+all):
# fortified C library calls, a strong stack protector, format checks, and a relocation
# table made read-only after start-up (relro with bind-now). The sanitizer and fuzz
# builds leave it out: their run-time libraries intercept the same calls.
if(STRELVANE_ASAN OR STRELVANE_TSAN OR STRELVANE_FUZZ)
  return()
endif()

# _FORTIFY_SOURCE works only with optimisation (and warns without it), so Debug builds go
# without. Undefined first: flags given from outside may define it already.
add_compile_options(
  "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
  -fstack-protector-strong
  -Wformat
  -Werror=format-security)
add_link_options(-Wl,-z,relro -Wl,-z,now)

# Warnings for every target of the project.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()
if(WIN32)
  # Win32 programs are linked statically: one .exe with no MinGW DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

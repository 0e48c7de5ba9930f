# find_package(PLUME CONFIG): the PLUME SDK for plug-ins and clients.
#   PLUME::plume        the headers (plume.h, plumeinit.h, plume_plugin.h) and
#                       the GUIDs of the object model and of the plug-in
#                       counter; link it. It links the MinGW runtime
#                       statically: the client has no libstdc++-6.dll or
#                       libgcc_s_seh-1.dll to lend a plug-in.
#   PLUME::sandbox      plume_sandbox.h, the test library that drives the
#                       sandbox client (bin/plume-sandbox.exe) as a user.
#   PLUME_TYPE_LIBRARY  the type library file (plume.tlb)
#   PLUME_BIN_DIR       plumesrv.dll, plumescript.dll, plume-setup.exe, plume-monitor.exe
# Everything is found relative to this file: the tree may be moved.
get_filename_component(_plume_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET PLUME::plume)
  add_library(PLUME::guids STATIC IMPORTED)
  set_target_properties(PLUME::guids PROPERTIES
    IMPORTED_LOCATION "${_plume_prefix}/lib/libplume_guids.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_plume_prefix}/include"
    INTERFACE_LINK_LIBRARIES "ole32;oleaut32;uuid;user32")
  add_library(PLUME::init_guids STATIC IMPORTED)
  set_target_properties(PLUME::init_guids PROPERTIES
    IMPORTED_LOCATION "${_plume_prefix}/lib/libplume_init_guids.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_plume_prefix}/include")
  add_library(PLUME::plume INTERFACE IMPORTED)
  set_target_properties(PLUME::plume PROPERTIES INTERFACE_LINK_LIBRARIES "PLUME::guids;PLUME::init_guids"
    INTERFACE_LINK_OPTIONS "-static;-static-libgcc;-static-libstdc++")
  add_library(PLUME::sandbox INTERFACE IMPORTED)
  set_target_properties(PLUME::sandbox PROPERTIES INTERFACE_LINK_LIBRARIES "PLUME::plume;oleacc;user32"
    INTERFACE_COMPILE_DEFINITIONS "PLUME_SDK_BIN=\"${_plume_prefix}/bin\"")
endif()

set(PLUME_TYPE_LIBRARY "${_plume_prefix}/lib/plume.tlb")
set(PLUME_BIN_DIR "${_plume_prefix}/bin")
set(PLUME_FOUND TRUE)
unset(_plume_prefix)

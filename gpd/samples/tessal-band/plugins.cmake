# Included by gpd/win/build.cmake (the mingw-w64 sub-build, one per Windows
# architecture): the Tessal Band sample minidriver's plug-ins, COM DLLs that
# export DllGetClassObject and DllCanUnloadNow.
set(TBAND_DIR ${GPD_DIR}/samples/tessal-band)
foreach(plugin tbandrdr tbandui)
  add_library(${plugin} SHARED ${TBAND_DIR}/${plugin}.cpp ${TBAND_DIR}/tband_com.cpp)
  target_include_directories(${plugin} PRIVATE ${TBAND_DIR} ${GPD_DIR}/win)
  target_link_libraries(${plugin} PRIVATE uuid)
  target_link_options(${plugin} PRIVATE -Wl,--kill-at)
  set_target_properties(${plugin} PROPERTIES PREFIX "")
endforeach()

# A test tool that drives both plug-ins without the core (tests/gpd).
if(TEST_TOOLS_DIR)
  add_executable(tband-probe ${GPD_DIR}/../tests/gpd/tband_probe.cpp)
  target_include_directories(tband-probe PRIVATE ${TBAND_DIR} ${GPD_DIR}/win)
  target_link_libraries(tband-probe PRIVATE uuid)
  target_link_options(tband-probe PRIVATE -municode)
endif()

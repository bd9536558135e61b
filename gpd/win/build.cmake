# Included by strelwick/win/CMakeLists.txt (the mingw-w64 sub-build): the
# portable GPD core for Windows, our printer graphics DLL on it
# (tessal-unidrv.dll), its configuration DLL (tessal-unidrvui.dll) and the
# sample minidriver's plug-ins.
set(GPD_CORE_SOURCES
  ${GPD_DIR}/gpd_lex.cpp ${GPD_DIR}/gpd_read.cpp ${GPD_DIR}/gpd_value.cpp
  ${GPD_DIR}/gpd_model.cpp ${GPD_DIR}/gpd_stdnames.cpp ${GPD_DIR}/gpd_config.cpp
  ${GPD_DIR}/gpd_expr.cpp ${GPD_DIR}/gpd_command.cpp ${GPD_DIR}/gpd_device.cpp
  ${GPD_DIR}/gpd_compress.cpp ${GPD_DIR}/gpd_halftone.cpp ${GPD_DIR}/gpd_raster.cpp
  ${GPD_DIR}/gpd_blocks.cpp ${GPD_DIR}/gpd_vbyte.cpp
  ${GPD_DIR}/win/unidrv_dm.cpp)
add_library(tessal_gpd_win STATIC ${GPD_CORE_SOURCES})
target_include_directories(tessal_gpd_win PUBLIC ${GPD_DIR} ${GPD_DIR}/win)

include(${GPD_DIR}/win/core.cmake)
include(${GPD_DIR}/win/ui.cmake)
include(${GPD_DIR}/samples/tessal-band/plugins.cmake)

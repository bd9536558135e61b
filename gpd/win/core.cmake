# tessal-unidrv.dll: our core for GPD minidrivers as a user-mode printer
# graphics DLL (included by build.cmake in the mingw-w64 sub-build).
add_library(tessal-unidrv SHARED
  ${GPD_DIR}/win/core_ddi.cpp ${GPD_DIR}/win/core_device.cpp ${GPD_DIR}/win/core_job.cpp
  ${GPD_DIR}/win/core_files.cpp ${GPD_DIR}/win/core_plugin.cpp ${GPD_DIR}/win/core_helpers.cpp
  ${GPD_DIR}/win/core_render.cpp)
target_link_libraries(tessal-unidrv PRIVATE tessal_gpd_win winspool gdi32)
target_link_options(tessal-unidrv PRIVATE -Wl,--kill-at)
set_target_properties(tessal-unidrv PROPERTIES PREFIX "")

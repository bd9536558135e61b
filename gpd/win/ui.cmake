# tessal-unidrvui.dll: the configuration DLL of our core (DocumentProperties,
# DeviceCapabilities), and the mapping between the device mode and the GPD
# options both DLLs use.  Included by build.cmake.
target_sources(tessal_gpd_win PRIVATE ${GPD_DIR}/win/unidrv_map.cpp ${GPD_DIR}/win/unidrv_map_dm.cpp)

add_library(tessal-unidrvui SHARED
  ${GPD_DIR}/win/ui_main.cpp ${GPD_DIR}/win/ui_driver.cpp ${GPD_DIR}/win/ui_plugins.cpp
  ${GPD_DIR}/win/ui_devmode.cpp ${GPD_DIR}/win/ui_caps.cpp)
target_link_libraries(tessal-unidrvui PRIVATE tessal_gpd_win winspool ole32 uuid)
target_link_options(tessal-unidrvui PRIVATE -Wl,--kill-at)
set_target_properties(tessal-unidrvui PROPERTIES PREFIX "")

# A test tool that asks a printer's configuration DLL for device modes (tests/strelwick).
if(TEST_TOOLS_DIR)
  add_executable(gpdui-probe ${TEST_TOOLS_DIR}/gpdui_probe.cpp)
  target_include_directories(gpdui-probe PRIVATE ${GPD_DIR}/samples/tessal-band)
  target_link_libraries(gpdui-probe PRIVATE tessal_gpd_win winspool)
  target_link_options(gpdui-probe PRIVATE -municode)
endif()

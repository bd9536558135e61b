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

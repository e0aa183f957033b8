# kelvo_program_manifest(<target> <DIALOGS|NO_WINDOWS> "<description>")
# Embeds the program's application manifest (RT_MANIFEST 1): common controls 6, asInvoker
# and the supported systems for every program; a program that shows windows also declares
# per-monitor DPI awareness (version 2, with per-monitor as the fall-back of older systems),
# so its dialogs are drawn at the monitor's DPI instead of being stretched by the system.
function(kelvo_program_manifest target kind description)
  set(MANIFEST_NAME ${target})
  set(MANIFEST_VERSION ${KELVO_VERSION_TEXT})
  set(MANIFEST_DESCRIPTION "${description}")
  if(kind STREQUAL "DIALOGS")
    set(MANIFEST_WINDOWS_SETTINGS "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">
    <windowsSettings>
      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>
      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>
    </windowsSettings>
  </application>
")
  else()
    set(MANIFEST_WINDOWS_SETTINGS "")
  endif()
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/KelvoManifest.manifest.in ${manifest} @ONLY)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "// Generated; do not edit.\n1 24 \"${manifest}\"\n")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
  target_sources(${target} PRIVATE ${rc})
endfunction()

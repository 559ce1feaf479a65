# vorl_install_man_page(<page> <section>): installs a man page compressed, the
# way man reads it and Debian ships it (gzip -9n: no name, no timestamp, so
# the package is reproducible).
include_guard(GLOBAL)

function(vorl_install_man_page page section)
  get_filename_component(name ${page} NAME)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/${page} > ${gz}
    DEPENDS ${page})
  add_custom_target(man_${name} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

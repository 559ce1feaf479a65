# vorl_install_man_page(<page> <section>): installs a man page compressed, the
# way man reads it (gzip -9n: no name, no timestamp, so the result is
# reproducible). The Debian package installs the pages with dh_installman
# instead and builds with VORL_INSTALL_MAN=OFF.
include_guard(GLOBAL)
option(VORL_INSTALL_MAN "Install the man pages (make install)" ON)

function(vorl_install_man_page page section)
  if(NOT VORL_INSTALL_MAN)
    return()
  endif()
  get_filename_component(name ${page} NAME)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/${page} > ${gz}
    DEPENDS ${page})
  add_custom_target(man_${name} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

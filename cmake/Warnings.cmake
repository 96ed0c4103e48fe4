# Flags every target of the project gets.
add_library(korva_flags INTERFACE)
target_compile_options(korva_flags INTERFACE -Wall -Wextra -Wpedantic -ffp-contract=off)
if(KORVA_WERROR)
  target_compile_options(korva_flags INTERFACE -Werror)
endif()
if(KORVA_SANITIZE)
  target_compile_options(korva_flags INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                               -fno-omit-frame-pointer)
  target_link_options(korva_flags INTERFACE -fsanitize=address,undefined)
endif()

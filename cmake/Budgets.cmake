# The flash and the stack each module's phase gives it, in bytes: the firmware build checks every
# image against them, and the image fuzz targets check the stack of every run they make.
set(BOARD_PEI_MAX_IMAGE_BYTES 3072)
set(BOARD_PEI_MAX_STACK_BYTES 150)
set(BOARD_DXE_MAX_IMAGE_BYTES 5376)
set(BOARD_DXE_MAX_STACK_BYTES 1260)

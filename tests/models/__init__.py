"""Independent float32 models of the module's classes, for bit-exact tests.

Each model is written from the documented algorithm in plain NumPy float32
arithmetic. Fused multiply-adds, sines, cosines and exponentials come from the
C library through ctypes (libm.py), never from float64 emulation, so that a
model and the module agree to the bit.
"""

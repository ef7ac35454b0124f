"""A first look at quillmar."""

import quillmar._quillmar as qm

print(qm.__doc__.splitlines()[0])

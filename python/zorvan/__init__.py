from ._zorvan import *
